// Any bytes, taken as an image, through the whole-image check, both listings and
// extraction: a crash, a hang or a sanitizer report is a finding.
//
// An input that begins with "\xFFREP" is a compact image, so that a small
// input reaches a deep chain of directories: after the mark come records of
// a 16-bit count n, an 8-bit count m, m steps (a 16-bit offset and an 8-bit
// amount) and one block of 2048 bytes (shorter at the end of the input), all
// big-endian. A record stands for its block and then n copies of it, each
// copy adding every step's amount to the 32-bit word at the step's offset in
// the copy before (a chain of directories, one per block, differs only in
// such words). fuzz/compact_image.py writes one.

#include <algorithm>
#include <string_view>

#include "image/image_compare.h"
#include "inspect/listing.h"
#include "platform/fake_image_host.h"

namespace {

constexpr std::size_t kBlock = 2048;
constexpr std::size_t kMaxExpanded = 3000 * kBlock;  // a 2048-deep chain and some room

class Discard : public vornel::Console {
 public:
  void print(std::string_view) override {}
  void error(std::string_view) override {}
};

std::string expand(std::string_view in) {
  const auto byte = [&](std::size_t at) { return static_cast<std::uint32_t>(static_cast<unsigned char>(in[at])); };
  std::string image;
  std::size_t at = 4;
  while (at + 3 <= in.size() && image.size() < kMaxExpanded) {
    std::size_t copies = byte(at) << 8 | byte(at + 1);
    const std::size_t steps = byte(at + 2);
    const std::size_t blockAt = at + 3 + 3 * steps;
    if (blockAt > in.size()) break;
    std::string block(in.substr(blockAt, kBlock));
    for (;;) {
      image += block;
      if (copies-- == 0 || image.size() >= kMaxExpanded) break;
      for (std::size_t i = 0; i < steps; ++i) {
        const std::size_t word = byte(at + 3 + 3 * i) << 8 | byte(at + 4 + 3 * i);
        if (word + 4 > block.size()) continue;
        std::uint32_t value = 0;
        for (std::size_t b = 0; b < 4; ++b) value = value << 8 | static_cast<unsigned char>(block[word + b]);
        value += byte(at + 5 + 3 * i);
        for (std::size_t b = 0; b < 4; ++b) block[word + b] = static_cast<char>(value >> (24 - 8 * b));
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
