#pragma once

// The listing of an image as text and as JSON: the label's fields, one line
// (or object) per directory and file, depth first from the root, each
// directory's entries in stored order and a subdirectory's contents right
// after its own line, then a summary. Each line goes to the console as soon
// as it is made, so the text is never held whole.

#include <string>

#include "image/image_reader.h"
#include "platform/console.h"

namespace vornel {

void listText(const ImageTree& tree, Console& out);
void listJson(const ImageTree& tree, Console& out);

// Bytes outside printable ASCII, and the backslash, as \xNN: names may hold
// any byte, and every entry must stay on one line.
std::string escapeText(const std::string& bytes);

}  // namespace vornel
