#pragma once

// Reads a finished image through positioned reads and never trusts it: every
// offset, count, size and avatar is checked against the image before it is
// used, every block is claimed by at most one owner (so a directory whose
// avatars lead back into itself or a parent is seen and not entered), and
// the numbers of directories, entries and problems kept are bounded. A
// damaged image gives a list of problems, never a crash or a hang.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/image_file.h"

namespace vornel {

// What is wrong, and where: block -1 is the image as a whole, offset -1 the
// whole block.
struct ImageProblem {
  std::int64_t block = -1;
  std::int64_t offset = -1;
  std::string what;
};
std::string describe(const ImageProblem& problem);

// One directory entry as stored, at its first readable copy.
struct ImageEntry {
  std::uint32_t flags = 0;
  std::int32_t id = 0;
  std::array<char, 4> type{};
  std::string name;  // the name field without its trailing zero bytes
  std::uint32_t byteCount = 0;
  std::int32_t blockCount = 0;
  std::vector<std::int32_t> avatars;  // lastAvatar + 1 of them
  std::int64_t block = 0;             // where the entry is stored
  std::int64_t offset = 0;
  int directory = -1;  // directory entries: index in ImageTree::directories, -1 when not entered

  std::uint32_t kind() const { return flags & 0xFF; }
};

struct ImageDirectory {
  std::string name;  // empty for the root
  int parent = -1;   // -1 for the root
  std::int32_t blockCount = 0;
  std::vector<std::int32_t> avatars;
  std::vector<ImageEntry> entries;  // in stored order, the label entry included
};

struct ImageLabel {
  std::string volumeLabel;    // the whole field up to its trailing zero bytes
  std::string volumeComment;  // the same
  std::uint8_t volumeFlags = 0;
  std::int32_t volumeId = 0;
  std::int32_t blockCount = 0;
  std::int32_t rootDirId = 0;
  std::vector<std::int32_t> rootAvatars;
};

struct ImageTree {
  // False when the file is not an image of this file system at all, or
  // could not be read; the problems say why.
  bool usable = false;
  bool readError = false;
  ImageLabel label;
  std::vector<ImageDirectory> directories;  // [0] is the root when usable
  std::size_t fileCount = 0;
  std::int64_t blocksUsed = 0;  // blocks claimed by the label, directories and files
  std::uint64_t imageBytes = 0;
  std::vector<ImageProblem> problems;  // the first kMaxProblems of them
  std::size_t problemCount = 0;

  // "/" for the root, "/a/b" below it.
  std::string path(int directory) const;
  std::string path(int directory, const std::string& name) const;
  // The entry at a path ("/a/b"), or null; for names without a "/".
  const ImageEntry* entry(const std::string& path) const;
};

inline constexpr std::int64_t kMaxImageBlocks = 330000;
inline constexpr std::size_t kMaxProblems = 1000;
inline constexpr std::size_t kMaxEntries = 2000000;

// Decodes the label and every directory at every avatar. With wholeCheck,
// also reads every other block once: file copies compared, the filler
// checked wherever nothing owns a byte.
ImageTree readImage(ImageFile& file, bool wholeCheck);

// Bytes [from, from + size) of the first copy of a file, cut at its end;
// empty when they cannot be read.
std::string readContent(ImageFile& file, const ImageEntry& e, std::uint64_t from = 0, std::uint64_t size = UINT64_MAX);

// Why a name could not be a file name on the host: empty, ".", "..", or
// holding a "/" or a zero byte. Empty when it is fine.
std::string unusableName(const std::string& name);

}  // namespace vornel
