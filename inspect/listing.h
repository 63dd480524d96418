#pragma once

// The listing of an image as text and as JSON: the label's fields, one line
// (or object) per directory and file, depth first from the root, each
// directory's entries in stored order and a subdirectory's contents right
// after its own line, then a summary.

#include <string>

#include "image/image_reader.h"

namespace vornel {

std::string listText(const ImageTree& tree);
std::string listJson(const ImageTree& tree);

// Bytes outside printable ASCII, and the backslash, as \xNN: names may hold
// any byte, and every entry must stay on one line.
std::string escapeText(const std::string& bytes);

}  // namespace vornel
