#include "writer/image_writer.h"

#include <array>
#include <cstring>

#include "format/bytes.h"

namespace vornel {

namespace {

using Block = std::array<std::uint8_t, kBlockSize>;

Block fillerBlock() {
  Block block;
  fillWithPattern(block.data(), block.size());
  return block;
}

bool writeBlock(OutputFile& out, const std::uint8_t* data) {
  return out.write(data, kBlockSize) == static_cast<long long>(kBlockSize);
}

// A full disk, a quota or a broken pipe must never end a build without a reason.
int writeFailed(Console& console) { return fail(console, "Error write to output file.\n"); }

// Writes one copy of a file at its avatar: its bytes in consecutive blocks,
// the filler pattern after the last byte. Never more than blockCount blocks,
// whatever the file holds now; a read error or a size that differs from the
// scanned one fails.
int copyAvatar(const FileRecord& file, const std::string& path, InputFile& in, std::int64_t avatar,
               WriteContext& context) {
  if (!in.rewind()) return fail(context.console, "Error read file " + path + "\n");
  if (file.blockCount > 0) context.out.seek(static_cast<std::uint64_t>(avatar) * kBlockSize);
  Block buffer;
  std::uint64_t total = 0;
  for (;;) {
    fillWithPattern(buffer.data(), buffer.size());
    std::size_t filled = 0;
    // A short read before the end of the file is not the end: fill the block.
    while (filled < buffer.size()) {
      const long long got = in.read(buffer.data() + filled, buffer.size() - filled);
      if (got < 0) return fail(context.console, "Error read file " + path + "\n");
      if (got == 0) break;
      filled += static_cast<std::size_t>(got);
    }
    if (filled == 0) break;
    const bool beyondReserved = total >= static_cast<std::uint64_t>(file.blockCount) * kBlockSize;
    total += filled;
    if (beyondReserved) break;  // the file grew: its next block belongs to someone else
    if (!writeBlock(context.out, buffer.data())) return writeFailed(context.console);
    if (filled < buffer.size()) break;
  }
  if (total != file.byteSize) return fail(context.console, "Error file " + path + " changed size during the build.\n");
  return 0;
}

}  // namespace

int writeFileContents(const DirNode& dir, WriteContext& context) {
  for (const auto& file : dir.files) {
    context.console.print(".");
    const std::string path = dir.path + file->name;
    auto in = context.fs.openInput(path);
    if (!in) return fail(context.console, "Error open file " + path + "\n");
    for (int i = 0; i <= file->lastAvatar; ++i) {
      if (copyAvatar(*file, path, *in, file->avatars[i], context) != 0) return -1;
    }
  }
  return 0;
}

int writeDirectories(DirNode& node, WriteContext& context) {
  const auto writeChain = [&](DirNode& dir) {
    context.console.print(".");
    for (int j = 0; j <= dir.lastAvatar; ++j) {
      if (!context.out.seek(static_cast<std::uint64_t>(dir.avatars[j]) * kBlockSize)) {
        return writeFailed(context.console);
      }
      for (const auto& block : dir.blocks) {
        if (!writeBlock(context.out, block->data.data())) return writeFailed(context.console);
      }
    }
    return 0;
  };
  const auto writeFiles = [&](DirNode& dir) { return writeFileContents(dir, context); };
  return siblingFirstWalk(node, writeChain, writeFiles);
}

int writeImage(const std::string& outputPath, DirNode& root, const FreeBlocksPool& pool, const DiscLabel& label,
               FileSystem& fs, Console& console) {
  auto out = fs.createOutput(outputPath);
  if (!out) return fail(console, "Error create output file " + outputPath + "\n");
  WriteContext context{fs, console, *out};
  if (writeDirectories(root, context) != 0) return -1;

  const Block filler = fillerBlock();
  for (std::int64_t b = 0; b <= pool.highestUsedBlock(); ++b) {
    if (!pool.isFree(b)) continue;
    out->seek(static_cast<std::uint64_t>(b) * kBlockSize);
    if (!writeBlock(*out, filler.data())) return writeFailed(console);
  }

  Block labelBlock = filler;
  std::memcpy(labelBlock.data(), label.bytes.data(), label.bytes.size());
  for (const std::int32_t block : kLabelBlocks) {
    out->seek(static_cast<std::uint64_t>(block) * kBlockSize);
    if (!writeBlock(*out, labelBlock.data())) return writeFailed(console);
  }
  // Only a complete image replaces the output; every failure before this
  // point leaves the output path as it was.
  if (!out->commit()) return writeFailed(console);
  console.print("Done.\n");
  return 0;
}

}  // namespace vornel
