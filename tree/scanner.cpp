#include "tree/scanner.h"

#include <algorithm>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace vornel {

namespace {

// The largest size that fits the 32-bit size field of a directory entry.
constexpr std::uint64_t kMaxFileSize = 0xFFFFFFFFull;
// Digits beyond this value keep the number saturated: it is out of every
// range the placement accepts, and it cannot wrap around into one.
constexpr std::int64_t kSaturated = std::int64_t{1} << 40;
// Numbers above this one are shown as written, not by a saturated value.
constexpr std::int64_t kLargestPosition = 2147483647;

// The names of one directory's entries on the disc, by their folded form.
using NamesOnDisc = std::unordered_map<std::string, std::string>;

bool isSeparator(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Ignored placement text as a warning shows it: on one line, runs of
// separators as one space, at most 40 bytes.
std::string shown(std::string_view text) {
  std::string line;
  for (const char c : text) {
    if (!isSeparator(c)) {
      line += c;
    } else if (!line.empty() && line.back() != ' ') {
      line += ' ';
    }
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line.size() > 40 ? line.substr(0, 37) + "..." : line;
}

class Scanner {
 public:
  explicit Scanner(ScanContext& context) : c_(context), ahead_(context.fs, context.helperFs, context.order) {}

  int scan(DirNode& dir) {
    const FileInfo self = c_.fs.stat(dir.path);
    ancestors_.push_back({self.device, self.inode});
    const int result = scanEntries(dir);
    ancestors_.pop_back();
    return result;
  }

 private:
  int fail(const std::string& message, const std::string& reason) { return vornel::fail(c_.console, message, reason); }

  int scanEntries(DirNode& dir) {
    const Listing listing = ahead_.take(dir.path);
    if (!listing.readable) return fail("Error read directory " + dir.path + "\n", listing.reason);
    // The entries taken onto the disc so far, by their name as the disc
    // compares names.
    NamesOnDisc onDisc;
    for (std::size_t i = 0; i < listing.names.size(); ++i) {
      const std::string& name = listing.names[i];
      if (name.size() > kMaxNameLength) {
        return fail("Name of file(directory) " + name + " exceed max name length.\n",
                    "the name has " + std::to_string(name.size()) + " bytes; a name on the disc has at most 32");
      }
      if (name == "." || name == "..") continue;
      const std::string path = dir.path + name;
      const FileInfo& info = listing.infos[i];
      int result = 0;
      switch (info.kind) {
        case FileKind::Directory:
          result = scanSubdirectory(dir, name, path, info, onDisc);
          break;
        case FileKind::Regular:
          if (info.size > kMaxFileSize) {
            return fail("Error file " + path + " is 4 GiB or larger.\n",
                        "it has " + std::to_string(info.size) + " bytes; a file on the disc has at most 4294967295");
          }
          if (isOutput(info)) {
            warn(c_.console, "left out " + path + ", which is the output file");
            break;
          }
          result = addFile(dir, name, info.size, onDisc);
          break;
        case FileKind::Other:
          return fail("Error file " + path + " is not a regular file or directory.\n", info.reason);
        case FileKind::Missing:
        case FileKind::Unreadable:
          return fail("Error read file " + path + "\n", info.reason);
      }
      if (result != 0) return -1;
    }
    return 0;
  }

  bool isOutput(const FileInfo& info) const {
    return c_.output.kind == FileKind::Regular && info.device == c_.output.device && info.inode == c_.output.inode;
  }

  // The console reaches an entry by its name compared without regard to
  // case, so two such names in one directory would leave one unreachable.
  int takeName(NamesOnDisc& onDisc, const DirNode& dir, const std::string& name) {
    const auto [earlier, fresh] = onDisc.try_emplace(foldName(name), name);
    if (fresh) return 0;
    return fail(
        "Error file " + dir.path + name + " has the same name as " + dir.path + earlier->second + " on the disc.\n",
        "the disc does not tell upper from lower case in names, so it could reach only one of them");
  }

  int scanSubdirectory(DirNode& dir, const std::string& name, const std::string& path, const FileInfo& info,
                       NamesOnDisc& onDisc) {
    const DirectoryId id{info.device, info.inode};
    if (std::find(ancestors_.begin(), ancestors_.end(), id) != ancestors_.end()) {
      return fail("Error directory " + path + c_.fs.separator() + " loops back to a parent directory.\n",
                  "it is the same directory as one that contains it");
    }
    if (takeName(onDisc, dir, name) != 0) return -1;
    DirNode& child = appendChild(dir, newDirNode(c_.ids, c_.dirAvatars));
    child.name = name;
    child.path = path + c_.fs.separator();
    ancestors_.push_back(id);
    const int result = scanEntries(child);
    ancestors_.pop_back();
    return result;
  }

  int addFile(DirNode& dir, const std::string& name, std::uint64_t size, NamesOnDisc& onDisc) {
    const auto describe = [&](FileRecord& record) {
      record.name = name;
      record.byteSize = static_cast<std::uint32_t>(size);
      record.blockCount = static_cast<std::int32_t>((size + kBlockSize - 1) / kBlockSize);
      record.parent = &dir;
    };
    if (name.empty() || name[0] != '#') {
      if (takeName(onDisc, dir, name) != 0) return -1;
      auto record = newFileRecord(c_.ids);
      describe(*record);
      appendFile(dir, std::move(record));
      return 0;
    }
    // A placement file: the first one of a name wins, and the names of the
    // fixed system records cannot be overridden.
    auto record = newPlacementRecord(c_.ids);
    if (c_.placements.find(name) != nullptr) return 0;
    describe(*record);
    const int result = parsePlacementFile(*record, c_);
    if (result == 0) c_.placements.append(std::move(record));
    return result < 0 ? -1 : 0;
  }

  ScanContext& c_;
  ScanAhead ahead_;
  std::vector<DirectoryId> ancestors_;  // the directories on the current path
};

}  // namespace

int scanDirectory(DirNode& dir, ScanContext& context) { return Scanner(context).scan(dir); }

int parsePlacementFile(PlacementRecord& record, ScanContext& context) {
  const std::string path = record.parent->path + record.name;
  // A file the user pinned to fixed blocks must never end up elsewhere.
  auto file = context.fs.openInput(path);
  if (!file) return fail(context.console, "Error read file " + path + "\n", context.fs.lastError());
  std::string text(kPlacementFileLimit, '\0');
  const long long filled = readFully(*file, reinterpret_cast<std::uint8_t*>(text.data()), text.size());
  if (filled < 0) return fail(context.console, "Error read file " + path + "\n", file->lastError());
  if (filled == 0) return 1;
  text.resize(static_cast<std::size_t>(filled));
  const UnreadText unread = parsePlacementText(text, record);
  if (!unread.text.empty()) {
    warn(context.console, path + ": ignored \"" + shown(unread.text) + "\"" +
                              (unread.pastEighth ? ": a placement file holds at most 8 numbers"
                                                 : ": reading stops at the first word that is not a number"));
  }
  return 0;
}

UnreadText parsePlacementText(std::string_view text, PlacementRecord& record) {
  // The text ends at its first zero byte, as a C string would.
  text = text.substr(0, text.find('\0'));
  int count = 0;
  std::size_t pos = 0;
  UnreadText unread;
  while (true) {
    while (pos < text.size() && isSeparator(text[pos])) ++pos;
    if (pos == text.size()) break;
    if (count == 8) {
      unread = {text.substr(pos), true};
      break;
    }
    std::int64_t value = 0;
    bool digits = true;
    const std::size_t start = pos;
    for (; pos < text.size() && !isSeparator(text[pos]); ++pos) {
      const char c = text[pos];
      if (c < '0' || c > '9') {
        digits = false;
        continue;
      }
      value = std::min(value * 10 + (c - '0'), kSaturated);
    }
    if (!digits) {
      unread = {text.substr(start)};
      break;
    }
    record.avatars[count % 4] = value;
    record.written[count % 4] = value > kLargestPosition ? std::string(text.substr(start, pos - start)) : std::string();
    ++count;
  }
  record.lastAvatar = (count + 3) % 4;
  return unread;
}

}  // namespace vornel
