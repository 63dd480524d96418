#include "tree/scanner.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace vornel {

namespace {

// The largest size that fits the 32-bit size field of a directory entry.
constexpr std::uint64_t kMaxFileSize = 0xFFFFFFFFull;
// Digits beyond this value keep the number saturated: it is out of every
// range the placement accepts, and it cannot wrap around into one.
constexpr std::int64_t kSaturated = std::int64_t{1} << 40;

struct DirectoryId {
  std::uint64_t device;
  std::uint64_t inode;
  bool operator==(const DirectoryId&) const = default;
};

bool isSeparator(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

class Scanner {
 public:
  explicit Scanner(ScanContext& context) : c_(context) {}

  int scan(DirNode& dir) {
    const FileInfo self = c_.fs.stat(dir.path);
    ancestors_.push_back({self.device, self.inode});
    const int result = scanEntries(dir);
    ancestors_.pop_back();
    return result;
  }

 private:
  int fail(const std::string& message) { return vornel::fail(c_.console, message); }

  int scanEntries(DirNode& dir) {
    std::vector<std::string> names;
    if (!c_.fs.listDirectory(dir.path, names)) return fail("Error read directory " + dir.path + "\n");
    // Every later order (file lists, sibling lists, ids, which placement file
    // of a name counts) follows from this one.
    if (c_.order == EntryOrder::Name) std::sort(names.begin(), names.end(), discNameLess);
    for (const std::string& name : names) {
      if (name.size() > kMaxNameLength) {
        return fail("Name of file(directory) " + name + " exceed max name length.\n");
      }
      if (name == "." || name == "..") continue;
      const std::string path = dir.path + name;
      const FileInfo info = c_.fs.stat(path);
      if (info.kind == FileKind::Directory) {
        if (scanSubdirectory(dir, name, path + "/", info) != 0) return -1;
      } else if (info.kind == FileKind::Regular) {
        if (info.size > kMaxFileSize) return fail("Error file " + path + " is 4 GiB or larger.\n");
        if (isOutput(info)) return fail("Error file " + path + " is the output file.\n");
        addFile(dir, name, info.size);
      } else {
        return fail("Error file " + path + " is not a regular file or directory.\n");
      }
    }
    return 0;
  }

  bool isOutput(const FileInfo& info) const {
    return c_.output.kind == FileKind::Regular && info.device == c_.output.device && info.inode == c_.output.inode;
  }

  int scanSubdirectory(DirNode& dir, const std::string& name, const std::string& path, const FileInfo& info) {
    const DirectoryId id{info.device, info.inode};
    if (std::find(ancestors_.begin(), ancestors_.end(), id) != ancestors_.end()) {
      return fail("Error directory " + path + " loops back to a parent directory.\n");
    }
    DirNode& child = appendChild(dir, newDirNode(c_.ids, c_.dirAvatars));
    child.name = name;
    child.path = path;
    ancestors_.push_back(id);
    const int result = scanEntries(child);
    ancestors_.pop_back();
    return result;
  }

  void addFile(DirNode& dir, const std::string& name, std::uint64_t size) {
    auto record = newFileRecord(c_.ids);
    record->name = name;
    record->byteSize = static_cast<std::uint32_t>(size);
    record->blockCount = static_cast<std::int32_t>((size + kBlockSize - 1) / kBlockSize);
    if (name.empty() || name[0] != '#') {
      appendFile(dir, std::move(record));
      return;
    }
    // A placement file: the first one of a name wins, and the names of the
    // fixed system records cannot be overridden.
    if (c_.placements.find(name) != nullptr) return;
    record->parent = &dir;
    if (parsePlacementFile(*record, c_) == 0) c_.placements.append(std::move(record));
  }

  ScanContext& c_;
  std::vector<DirectoryId> ancestors_;  // the directories on the current path
};

}  // namespace

int scanDirectory(DirNode& dir, ScanContext& context) { return Scanner(context).scan(dir); }

int parsePlacementFile(FileRecord& record, ScanContext& context) {
  auto file = context.fs.openInput(record.parent->path + record.name);
  if (!file) return -1;
  std::string text(kPlacementFileLimit, '\0');
  std::size_t filled = 0;
  while (filled < text.size()) {
    const long long got = file->read(reinterpret_cast<std::uint8_t*>(text.data()) + filled, text.size() - filled);
    if (got < 0) return -1;
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  if (filled == 0) return -1;
  text.resize(filled);
  parsePlacementText(text, record);
  return 0;
}

void parsePlacementText(std::string_view text, FileRecord& record) {
  // The text ends at its first zero byte, as a C string would.
  text = text.substr(0, text.find('\0'));
  int count = 0;
  std::size_t pos = 0;
  while (count < 8) {
    while (pos < text.size() && isSeparator(text[pos])) ++pos;
    if (pos == text.size()) break;
    std::int64_t value = 0;
    bool digits = true;
    for (; pos < text.size() && !isSeparator(text[pos]); ++pos) {
      const char c = text[pos];
      if (c < '0' || c > '9') {
        digits = false;
        continue;
      }
      value = std::min(value * 10 + (c - '0'), kSaturated);
    }
    if (!digits) break;
    record.avatars[count % 4] = value;
    ++count;
  }
  record.lastAvatar = (count + 3) % 4;
}

}  // namespace vornel
