// Any bytes, taken as an image, through the whole-image check, both listings and
// extraction: a crash, a hang or a sanitizer report is a finding.

#include "image/image_compare.h"
#include "inspect/listing.h"
#include "platform/fake_image_host.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vornel::MemoryImageFile image(std::string(reinterpret_cast<const char*>(data), size));
  const vornel::ImageTree tree = vornel::readImage(image, true);
  vornel::listText(tree);
  vornel::listJson(tree);
  vornel::FakeImageHost host;
  std::string error;
  vornel::extractImage(tree, image, *host.openExtractRoot("out", error));
  return 0;
}
