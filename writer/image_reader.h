#pragma once

// A reader of finished images for tests and tools. It decodes the disc label,
// walks every directory from the root's avatars and checks the image as a
// whole: identical copies at every avatar, the filler pattern wherever no
// record owns a byte, no block owned twice and the exact image length. It
// knows only the on-disc layout (format/bytes.h), not the writer's code.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vornel {

// One directory entry as stored on the disc.
struct ImageEntry {
  std::uint32_t flags = 0;
  std::int32_t id = 0;
  std::string type;  // the 4 type bytes
  std::string name;  // up to the first zero byte, at most 32 bytes
  std::uint32_t byteCount = 0;
  std::int32_t blockCount = 0;
  std::vector<std::int32_t> avatars;  // lastAvatar + 1 of them

  std::uint32_t kind() const { return flags & 0xFF; }
  // Files: the bytes of the first copy, a view into the image.
  std::string_view content;
  // Directories: the index of the directory it describes in ImageTree::directories.
  int directory = -1;
};

struct ImageDirectory {
  std::string path;  // "" for the root, else "a/b" from the root
  int parent = -1;   // index in ImageTree::directories; -1 for the root
  std::int32_t id = 0;
  std::int32_t blockCount = 0;
  std::vector<std::int32_t> avatars;
  std::vector<ImageEntry> entries;  // in stored order, the label entry included
};

struct ImageTree {
  std::string volumeLabel;
  std::int32_t volumeId = 0;
  std::int32_t blockCount = 0;
  std::vector<ImageDirectory> directories;  // [0] is the root
  std::size_t fileCount = 0;

  // The directory at a path ("" for the root, "a/b"), or null.
  const ImageDirectory* find(std::string_view path) const;
  // The entry of that name in the directory at dirPath, or null.
  const ImageEntry* entry(std::string_view dirPath, std::string_view name) const;
};

// Reads and checks a whole image. Returns an empty string when the image is
// sound, else the first problem found (block, offset, what was expected).
// The file contents in `tree` are views into `image`.
std::string readImage(std::string_view image, ImageTree& tree);

}  // namespace vornel
