// Fuzz target for reading images. Each input is the start of an image that
// goes on with filler up to block 225, which repeats the input's block 0 as
// the label's copy would, so a few blocks of input reach every part of the
// reader. The whole-image check, both listings and extraction run on it: a
// crash, a hang or a sanitizer report is a finding.

#include <algorithm>
#include <cstring>

#include "format/bytes.h"
#include "image/image_compare.h"
#include "inspect/listing.h"
#include "platform/fake_image_host.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vornel;
  constexpr std::size_t kLabelCopy = 225 * kBlockSize;
  std::string bytes(std::max(size, kLabelCopy + kBlockSize), '\0');
  fillWithPattern(reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size());
  std::memcpy(bytes.data(), data, size);
  if (size <= kLabelCopy) std::memcpy(bytes.data() + kLabelCopy, data, std::min(size, kBlockSize));
  MemoryImageFile image(bytes);
  const ImageTree tree = readImage(image, true);
  listText(tree);
  listJson(tree);
  FakeImageHost host;
  std::string error;
  extractImage(tree, image, *host.openExtractRoot("out", error));
  return 0;
}
