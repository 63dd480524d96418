#pragma once

// Compares an image with a source tree as vornel takes it, and extracts the
// tree an image holds.

#include <string>
#include <vector>

#include "image/image_reader.h"
#include "platform/file_system.h"

namespace vornel {

// The differences between the tree at `dir` and the image, one line each:
// entries missing from either side, a different kind or size, different
// bytes at any avatar; and the problems met while reading the image's
// directories. Empty when both hold the same. Placement files (regular files
// whose names begin with "#") are not on the disc and are left out; entries
// are matched by name, so their order does not matter.
// The tree is the image as readImage read it; with its whole check, every
// problem it found is a difference too.
std::vector<std::string> compareWithTree(FileSystem& fs, const std::string& dir, const ImageTree& tree,
                                         ImageFile& image);

struct ExtractResult {
  std::vector<std::string> skipped;  // one line per entry not extracted, and why
  std::size_t files = 0;             // files and directories written
  std::size_t directories = 0;
};

// Writes one copy (the first avatar) of every file under the target's root.
// A file that cannot be read or written whole is skipped and leaves nothing.
// An entry whose name could not be a host name, or repeats an earlier name
// of its directory as the disc compares names, is skipped with its subtree.
ExtractResult extractImage(const ImageTree& tree, ImageFile& image, ExtractTarget& target);

}  // namespace vornel
