#include "writer/image_writer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "format/bytes.h"

namespace vornel {

namespace {

// Plain copies go through a buffer of this many blocks (256 KiB): with the
// filler and label blocks the writer holds well under 1 MiB.
constexpr std::size_t kCopyBlocks = 128;
// The longest run of filler blocks handed over in one write.
constexpr std::size_t kFillerRun = 1024;

// A full disk, a quota or a broken pipe must never end a build without a reason.
int writeFailed(WriteContext& context) {
  return fail(context.console, "Error write to output file.\n", context.out.lastError());
}

// Writes count consecutive blocks of a buffer from the given block on.
bool writeBuffer(OutputFile& out, std::uint64_t block, const std::uint8_t* data, std::size_t count) {
  std::array<const std::uint8_t*, kCopyBlocks> blocks;
  for (std::size_t k = 0; k < count; ++k) blocks[k] = data + k * kBlockSize;
  return out.writeBlocks(block * kBlockSize, std::span(blocks.data(), count), kBlockSize);
}

// Writes one copy of a file at its avatar: its bytes in consecutive blocks,
// the filler pattern after the last byte. The host copies the whole blocks
// where it can; the rest, and everything on a host that cannot, goes through
// the buffer. Never more than blockCount blocks, whatever the file holds now;
// a read error or a size that differs from the scanned one fails.
int copyAvatar(const FileRecord& file, const std::string& path, InputFile& in, bool fromStart, std::int64_t avatar,
               WriteContext& context) {
  const auto readFailed = [&] { return fail(context.console, "Error read file " + path + "\n", in.lastError()); };
  // A file just opened reads from its start; a later copy goes back to it.
  if (!fromStart && !in.seek(0)) return readFailed();
  const auto first = static_cast<std::uint64_t>(avatar);
  const std::uint64_t reserved = static_cast<std::uint64_t>(file.blockCount) * kBlockSize;
  const std::uint64_t wholeBlocks = file.byteSize / kBlockSize * kBlockSize;
  const std::uint64_t copied = file.blockCount > 0 ? context.out.copyFrom(in, first * kBlockSize, wholeBlocks) : 0;
  // A copy cut short inside a block: that block goes through the buffer again.
  std::uint64_t total = copied / kBlockSize * kBlockSize;
  if (total != copied && !in.seek(total)) return readFailed();
  std::uint8_t* buffer = context.buffer.data();
  bool atEnd = false;
  while (total < reserved && !atEnd) {
    // total is a whole number of blocks here: only the last read is short.
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(context.buffer.size(), reserved - total));
    const long long got = readFully(in, buffer, want);
    if (got < 0) return readFailed();
    const auto filled = static_cast<std::size_t>(got);
    atEnd = filled < want;
    if (filled == 0) break;
    const std::size_t blocks = (filled + kBlockSize - 1) / kBlockSize;
    // The rest of the last block keeps the filler pattern in its block phase.
    const std::size_t inBlock = filled % kBlockSize;
    if (inBlock != 0) std::memcpy(buffer + filled, fillerBlock().data() + inBlock, kBlockSize - inBlock);
    if (!writeBuffer(context.out, first + total / kBlockSize, buffer, blocks)) return writeFailed(context);
    total += filled;
  }
  // All reserved blocks are written: a file that grew holds one more byte.
  if (!atEnd && total == reserved) {
    std::uint8_t probe;
    const long long got = in.read(&probe, 1);
    if (got < 0) return readFailed();
    total += static_cast<std::uint64_t>(got);
  }
  if (total != file.byteSize) {
    const FileInfo now = context.fs.stat(path);
    std::string reason = "it had " + std::to_string(file.byteSize) + " bytes when the tree was read";
    if (now.kind == FileKind::Regular) reason += " and has " + std::to_string(now.size) + " now";
    return fail(context.console, "Error file " + path + " changed size during the build.\n", reason);
  }
  return 0;
}

// The free blocks from `begin` up to `end` get the filler block, in runs of
// consecutive blocks.
int writeFiller(const FreeBlocksPool& pool, std::int64_t begin, std::int64_t end, WriteContext& context) {
  const std::vector<const std::uint8_t*> run(kFillerRun, fillerBlock().data());
  for (std::int64_t b = begin; b < end;) {
    if (!pool.isFree(b)) {
      ++b;
      continue;
    }
    std::int64_t length = 1;
    while (b + length < end && length < static_cast<std::int64_t>(kFillerRun) && pool.isFree(b + length)) ++length;
    const auto count = static_cast<std::size_t>(length);
    if (!context.out.writeBlocks(static_cast<std::uint64_t>(b) * kBlockSize, std::span(run.data(), count), kBlockSize)) {
      return writeFailed(context);
    }
    b += length;
  }
  return 0;
}

// The directory chains met one after another in the walk, held back and
// written together: sorted by block and joined into runs of adjacent copies
// (the first copies of consecutive directories lie side by side), so that a
// tree of many small directories costs a write per run rather than one per
// copy. Their dots wait for the batch. When a joined write fails, the batch
// is written again copy by copy in the walk's order, each directory's dot
// before its copies, so that the failure follows exactly the dots and the
// writes it would have followed had every copy been written at once.
class ChainBatch {
 public:
  explicit ChainBatch(WriteContext& context) : context_(context) {}

  int add(const DirNode& dir) {
    for (int j = 0; j <= dir.lastAvatar; ++j) copies_.push_back({static_cast<std::uint64_t>(dir.avatars[j]), &dir, j});
    ++dots_;
    blocks_ += static_cast<std::size_t>(dir.lastAvatar + 1) * dir.blocks.size();
    return blocks_ >= kBatchBlocks ? flush() : 0;
  }

  int flush() {
    if (copies_.empty()) return 0;
    if (writeJoined()) {
      context_.console.print(std::string(dots_, '.'));
    } else {
      for (const Copy& copy : copies_) {
        if (copy.avatar == 0) context_.console.print(".");
        if (!writeCopy(copy)) return writeFailed(context_);
      }
    }
    copies_.clear();
    dots_ = blocks_ = 0;
    return 0;
  }

 private:
  // At most this many blocks wait (16 MiB of the tree's own blocks), so that
  // the dots still come within a few tens of milliseconds.
  static constexpr std::size_t kBatchBlocks = 8192;

  struct Copy {
    std::uint64_t block;
    const DirNode* dir;
    int avatar;
  };

  bool writeCopy(const Copy& copy) {
    run_.clear();
    for (const auto& block : copy.dir->blocks) run_.push_back(block->data.data());
    return context_.out.writeBlocks(copy.block * kBlockSize, run_, kBlockSize);
  }

  bool writeJoined() {
    std::vector<Copy> sorted = copies_;
    std::sort(sorted.begin(), sorted.end(), [](const Copy& a, const Copy& b) { return a.block < b.block; });
    run_.clear();
    std::uint64_t start = 0;
    for (const Copy& copy : sorted) {
      if (!run_.empty() && copy.block != start + run_.size()) {
        if (!context_.out.writeBlocks(start * kBlockSize, run_, kBlockSize)) return false;
        run_.clear();
      }
      if (run_.empty()) start = copy.block;
      for (const auto& block : copy.dir->blocks) run_.push_back(block->data.data());
    }
    return context_.out.writeBlocks(start * kBlockSize, run_, kBlockSize);
  }

  WriteContext& context_;
  std::vector<Copy> copies_;  // in the walk's order
  std::size_t dots_ = 0;
  std::size_t blocks_ = 0;
  std::vector<const std::uint8_t*> run_;
};

int writeLabelCopy(std::int64_t block, const std::uint8_t* labelBlock, WriteContext& context) {
  const std::uint8_t* const blocks[] = {labelBlock};
  if (!context.out.writeBlocks(static_cast<std::uint64_t>(block) * kBlockSize, blocks, kBlockSize)) {
    return writeFailed(context);
  }
  return 0;
}

// Opens a source file for copying; null after its message.
std::unique_ptr<InputFile> openSource(const std::string& path, WriteContext& context) {
  auto in = context.fs.openInput(path);
  if (!in) fail(context.console, "Error open file " + path + "\n", context.fs.lastError());
  return in;
}

// One run of the image in block order: a directory chain or a file's
// contents at one avatar, or a copy of the label.
struct Run {
  std::int64_t first;
  std::int64_t blocks;
  const DirNode* dir = nullptr;      // a chain when set
  const FileRecord* file = nullptr;  // else a file's contents when set, else the label
  std::int64_t avatar = 0;
  bool firstOfRecord = false;  // the record's lowest copy, where its dot is printed
};

// The runs of every directory and every file that owns blocks, and the
// label's, sorted by block. A file's copies may stand in any order.
std::vector<Run> runsInBlockOrder(DirNode& root) {
  std::vector<Run> runs;
  for (const std::int32_t block : kLabelBlocks) runs.push_back({block, 1});
  siblingFirstWalk(root, [&](DirNode& dir) {
    for (int j = 0; j <= dir.lastAvatar; ++j)
      runs.push_back({dir.avatars[j], dir.blockCount(), &dir, nullptr, 0, j == 0});
    for (const auto& file : dir.files) {
      if (file->blockCount == 0) continue;
      const auto lowest = std::min_element(file->avatars.begin(), file->avatars.begin() + file->lastAvatar + 1);
      for (int i = 0; i <= file->lastAvatar; ++i) {
        const std::int64_t avatar = file->avatars[i];
        runs.push_back({avatar, file->blockCount, nullptr, file.get(), avatar, &file->avatars[i] == &*lowest});
      }
    }
    return 0;
  });
  std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.first < b.first; });
  return runs;
}

// The image for an output that cannot seek: one pass from block 0 to the
// highest used block, every run written when its first block comes, the
// filler in the free blocks between. A directory's or a file's dot comes
// with its lowest copy; files that own no block are opened and checked, with
// their dots, before any byte goes out. Each copy of a file reads the file
// again from its start, with the checks of the positioned writer. Beyond
// the layout, only the copy buffer is held.
int writeInBlockOrder(DirNode& root, const FreeBlocksPool& pool, const std::uint8_t* labelBlock,
                      WriteContext& context) {
  const int emptyChecked = preOrderWalk(root, [&](DirNode& dir) {
    for (const auto& file : dir.files) {
      if (file->blockCount != 0) continue;
      context.console.print(".");
      const std::string path = dir.path + file->name;
      auto in = openSource(path, context);
      if (!in || copyAvatar(*file, path, *in, true, -1, context) != 0) return -1;
    }
    return 0;
  });
  if (emptyChecked != 0) return -1;
  std::int64_t next = 0;  // the first block not yet written
  std::vector<const std::uint8_t*> chain;
  for (const Run& run : runsInBlockOrder(root)) {
    if (writeFiller(pool, next, run.first, context) != 0) return -1;
    if (run.firstOfRecord) context.console.print(".");
    if (run.dir != nullptr) {
      chain.clear();
      for (const auto& block : run.dir->blocks) chain.push_back(block->data.data());
      if (!context.out.writeBlocks(static_cast<std::uint64_t>(run.first) * kBlockSize, chain, kBlockSize)) {
        return writeFailed(context);
      }
    } else if (run.file != nullptr) {
      const std::string path = run.file->parent->path + run.file->name;
      auto in = openSource(path, context);
      if (!in || copyAvatar(*run.file, path, *in, true, run.avatar, context) != 0) return -1;
    } else if (writeLabelCopy(run.first, labelBlock, context) != 0) {
      return -1;
    }
    next = run.first + run.blocks;
  }
  return 0;
}

// The image at its positions: the tree pass, the filler pass, the label pass.
int writePositioned(DirNode& root, const FreeBlocksPool& pool, const std::uint8_t* labelBlock, WriteContext& context) {
  if (writeDirectories(root, context) != 0) return -1;
  if (writeFiller(pool, 0, std::int64_t{pool.highestUsedBlock()} + 1, context) != 0) return -1;
  for (const std::int32_t block : kLabelBlocks) {
    if (writeLabelCopy(block, labelBlock, context) != 0) return -1;
  }
  return 0;
}

}  // namespace

int writeFileContents(const DirNode& dir, WriteContext& context) {
  for (const auto& file : dir.files) {
    context.console.print(".");
    const std::string path = dir.path + file->name;
    auto in = openSource(path, context);
    if (!in) return -1;
    for (int i = 0; i <= file->lastAvatar; ++i) {
      if (copyAvatar(*file, path, *in, i == 0, file->avatars[i], context) != 0) return -1;
    }
  }
  return 0;
}

int writeDirectories(DirNode& node, WriteContext& context) {
  ChainBatch batch(context);
  const auto writeChain = [&](DirNode& dir) { return batch.add(dir); };
  // Every chain met before a file copy is written before it, so that the
  // copy's messages come in the walk's order.
  const auto writeFiles = [&](DirNode& dir) {
    if (dir.files.empty()) return 0;
    if (batch.flush() != 0) return -1;
    return writeFileContents(dir, context);
  };
  if (int result = siblingFirstWalk(node, writeChain, writeFiles)) return result;
  return batch.flush();
}

int writeImage(const std::string& outputPath, DirNode& root, const FreeBlocksPool& pool, const DiscLabel& label,
               FileSystem& fs, Console& console) {
  auto out = fs.createOutput(outputPath);
  if (!out) return fail(console, "Error create output file " + outputPath + "\n", fs.lastError());
  WriteContext context{fs, console, *out, std::vector<std::uint8_t>(kCopyBlocks * kBlockSize)};
  std::array<std::uint8_t, kBlockSize> labelBlock = fillerBlock();
  std::memcpy(labelBlock.data(), label.bytes.data(), label.bytes.size());
  const int written = out->inOrder() ? writeInBlockOrder(root, pool, labelBlock.data(), context)
                                     : writePositioned(root, pool, labelBlock.data(), context);
  if (written != 0) return -1;
  // Only a complete image replaces the output; every failure before this
  // point leaves the output path as it was.
  if (!out->commit()) return writeFailed(context);
  console.print("Done.\n");
  return 0;
}

}  // namespace vornel
