// Fuzz target for the image reader. Each input is the start of an image:
// the blocks it holds are read as they are, and the image goes on with
// filler blocks up to block 225, which repeats block 0 as the label's copy
// would, so a few blocks of input reach every part of the reader. The
// reader, the whole-image check, the listing, the JSON output and the
// extraction run on it; their results are checked against their invariants.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "format/bytes.h"
#include "image/image_compare.h"
#include "image/image_reader.h"
#include "inspect/listing.h"
#include "platform/fake_image_host.h"

namespace {

using vornel::ExtractResult;
using vornel::FakeImageHost;
using vornel::ImageTree;
using vornel::kBlockSize;
using vornel::MemoryImageFile;

constexpr std::uint64_t kLabelCopy = 225;

// The input, then filler up to the end of block 225, which repeats the
// input's block 0 unless the input reaches it.
std::string imageFrom(const std::uint8_t* data, std::size_t size) {
  static const std::string filler = [] {
    std::string block(kBlockSize, '\0');
    vornel::fillWithPattern(reinterpret_cast<std::uint8_t*>(block.data()), block.size());
    return block;
  }();
  const std::size_t length = std::max<std::size_t>(size, (kLabelCopy + 1) * kBlockSize);
  std::string image;
  while (image.size() < length) image += filler;
  image.resize(length);
  std::memcpy(image.data(), data, size);
  if (size <= kLabelCopy * kBlockSize) {
    std::memcpy(image.data() + kLabelCopy * kBlockSize, data, std::min(size, kBlockSize));
  }
  return image;
}

void require(bool condition) {
  if (!condition) std::abort();
}

// Output that must stay printable ASCII, one record per line.
void requirePrintable(const std::string& text) {
  for (const char c : text) require(c == '\n' || (c >= 0x20 && c < 0x7F));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  MemoryImageFile image(imageFrom(data, size));
  const ImageTree tree = vornel::readImage(image, true);
  require(tree.problems.size() <= vornel::kMaxProblems && tree.problems.size() <= tree.problemCount);
  require(!tree.usable || !tree.directories.empty());
  require(tree.usable || tree.problemCount > 0);
  requirePrintable(vornel::listText(tree));
  const std::string json = vornel::listJson(tree);
  requirePrintable(json);
  require(json.front() == '{' && json.ends_with("}\n"));

  // Extraction writes only names that could be host names, each once per directory.
  FakeImageHost host;
  std::string error;
  const auto target = host.openExtractRoot("out", error);
  const ExtractResult result = vornel::extractImage(tree, image, *target);
  require(!result.aborted);
  for (const auto& [path, content] : host.extracted("out").files) {
    require(!path.empty() && path.front() != '/' && path.find("//") == std::string::npos);
    require(path.find("/../") == std::string::npos && !path.starts_with("../") && path != "..");
  }
  return 0;
}
