#pragma once

// The layout of an existing image, read from the JSON listing that
// `vornel-inspect --json` writes: the label's fields and, for every
// directory and file in stored order, its id, type, size and avatars. A
// build given it puts every entry of the tree that it lists back where the
// image held it.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vornel {

struct LayoutEntry {
  std::string path;  // "/" for the root, "/a/b" below it; names as bytes
  bool directory = false;
  std::int32_t id = 0;
  std::array<char, 4> type{};
  std::int64_t blockCount = 0;
  std::vector<std::int32_t> avatars;  // empty: the entry is placed as a new one would be
  int line = 0;                       // where the entry begins in the document
};

struct LayoutDocument {
  std::string volumeLabel;  // up to 32 bytes
  std::string volumeComment;
  std::uint8_t volumeFlags = 0;
  std::int32_t volumeId = 0;
  std::int32_t rootId = 0;
  std::vector<std::int32_t> rootAvatars;  // 1 to 8
  std::vector<LayoutEntry> entries;       // the root first, every directory before its contents
  int labelLine = 0;

  // The highest id the document holds.
  std::int32_t highestId() const;
};

// Ids in a document stay below this, so that the tree's new entries and the
// directory blocks always find ids above them.
inline constexpr std::int32_t kMaxLayoutId = 0x3FFFFFFF;

struct LayoutError {
  int line = 0;          // 0: no error
  std::string expected;  // what the document should hold there
  std::string reason;    // the JSON parser's own words for text that is no JSON
};

// Reads and checks a whole document: valid JSON, the listing's keys with
// values of their types, text of characters U+0000 to U+00FF (one byte
// each), ids from 1 up and each its own, paths whose directories come first,
// avatars inside the disc and no block claimed twice.
LayoutError readLayoutDocument(std::string_view text, LayoutDocument& document);

}  // namespace vornel
