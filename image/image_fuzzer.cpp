// Any bytes, taken as an image, through the whole-image check, both listings and
// extraction: a crash, a hang or a sanitizer report is a finding.
//
// An input that begins with "\xFFREP" is a compact image (fuzz/compact_image.py
// writes one), so that a small seed reaches a deep chain of directories:
// records of a 16-bit count n, an 8-bit count m, m steps (a 16-bit offset and
// an 8-bit amount) and a block, big-endian. A record is its block and n copies,
// each adding every step's amount to the 32-bit word at its offset in the last.

#include <string_view>

#include "format/bytes.h"
#include "image/image_compare.h"
#include "inspect/listing.h"
#include "platform/fake_image_host.h"

namespace {

constexpr std::size_t kBlock = 2048;
constexpr std::size_t kMaxExpanded = 3000 * kBlock;  // a 2048-deep chain and some room

struct Discard : vornel::Console {
  void print(std::string_view) override {}
  void error(std::string_view) override {}
};

std::string expand(std::string_view in) {
  const auto byte = [&](std::size_t at) { return static_cast<std::size_t>(static_cast<unsigned char>(in[at])); };
  std::string image;
  for (std::size_t at = 4; at + 3 <= in.size() && image.size() < kMaxExpanded;) {
    const std::size_t copies = byte(at) << 8 | byte(at + 1), blockAt = at + 3 + 3 * byte(at + 2);
    if (blockAt > in.size()) break;
    std::string block(in.substr(blockAt, kBlock));
    auto* bytes = reinterpret_cast<std::uint8_t*>(block.data());
    for (std::size_t n = 0; n <= copies && image.size() < kMaxExpanded; ++n) {
      image += block;
      for (std::size_t step = at + 3; step < blockAt; step += 3) {
        const std::size_t word = byte(step) << 8 | byte(step + 1);
        if (word + 4 <= block.size()) vornel::storeBE32(bytes + word, vornel::loadBE32(bytes + word) + byte(step + 2));
      }
    }
    at = blockAt + kBlock;
  }
  return image;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  vornel::MemoryImageFile image(input.starts_with("\xFFREP") ? expand(input) : std::string(input));
  const vornel::ImageTree tree = vornel::readImage(image, true);
  Discard out;
  vornel::listText(tree, out);
  vornel::listJson(tree, out);
  vornel::FakeImageHost host;
  std::string error;
  vornel::extractImage(tree, image, *host.openExtractRoot("out", error));
  return 0;
}
