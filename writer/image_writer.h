#pragma once

// The last stage: writes the finished layout to the output file. Every write
// is of whole 2048-byte blocks at a block boundary; blocks 0 to the highest
// used block are each written once, so the image is exactly that long.

#include <string>
#include <vector>

#include "format/records.h"
#include "layout/free_blocks_pool.h"
#include "platform/console.h"
#include "platform/file_system.h"
#include "tree/source_tree.h"

namespace vornel {

struct WriteContext {
  FileSystem& fs;
  Console& console;
  OutputFile& out;
  std::vector<std::uint8_t> buffer;  // whole blocks, for copies that go through the program
};

// Starts the output and writes the tree pass, the filler pass and the label
// pass, printing a "." per directory and per file, then commits the image and
// prints "Done.\n". Returns -1 on the first failure, which leaves an existing
// output as it was.
int writeImage(const std::string& outputPath, DirNode& root, const FreeBlocksPool& pool, const DiscLabel& label,
               FileSystem& fs, Console& console);

// The tree pass from node on: every directory chain at every avatar, then the
// files of each directory once the walks below it are done.
int writeDirectories(DirNode& node, WriteContext& context);

// Copies each file of a directory's list to every one of its avatars.
int writeFileContents(const DirNode& dir, WriteContext& context);

}  // namespace vornel
