#pragma once

#include <string_view>

#include "platform/console.h"
#include "platform/file_system.h"
#include "tree/scan_ahead.h"
#include "tree/source_tree.h"

namespace vornel {

inline constexpr std::size_t kMaxNameLength = 32;
inline constexpr std::size_t kPlacementFileLimit = 1023;  // bytes of a placement file read

// What the scan reads from and adds to.
struct ScanContext {
  FileSystem& fs;
  Console& console;
  IdCounter& ids;
  PlacementList& placements;
  int dirAvatars;
  // The output file when it exists before the build: it is left out of the
  // tree, with a warning, so that a second build into the tree gives the
  // image the first one gave.
  FileInfo output = {};
  EntryOrder order = EntryOrder::Name;
  // A second view of the same file system for a thread that reads
  // directories ahead of the scan; none scans on one thread.
  FileSystem* helperFs = nullptr;
};

// Reads the directory at dir.path (ending with "/") and everything below it
// into dir, each directory's entries in the context's order, and appends the records of its
// placement files to the placement list. Subdirectories are scanned the
// moment they are met, so ids are handed out depth first. Prints its message
// and returns -1 on the first entry it cannot take.
int scanDirectory(DirNode& dir, ScanContext& context);

// Reads a placement file (record.parent's path + record.name) into the
// record's avatars and lastAvatar. Returns 0 when it holds the record, 1 for
// an empty file (the caller drops the record), and -1 with its message when
// the file cannot be opened or read.
int parsePlacementFile(PlacementRecord& record, ScanContext& context);

// The parsing itself: tokens separated by spaces, tabs, carriage returns and
// line feeds; at most 8 numbers, the n-th into slot n mod 4; the first token
// that is not all digits ends the reading; lastAvatar = (n - 1) mod 4.
// Returns the text left unread, from the token where reading stopped to the
// end of the text: empty when all was read.
struct UnreadText {
  std::string_view text;
  bool pastEighth = false;  // reading stopped after eight numbers, not at a word
};
UnreadText parsePlacementText(std::string_view text, PlacementRecord& record);

}  // namespace vornel
