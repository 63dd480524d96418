#include "image/image_compare.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "format/bytes.h"
#include "image/page_buffer.h"
#include "tree/scanner.h"
#include "tree/source_tree.h"

namespace vornel {

namespace {

constexpr std::size_t kChunk = 256 * kBlockSize;

// True when a copy of `bytes` bytes starting at block `avatar` lies inside the image.
bool insideImage(std::int64_t avatar, std::uint64_t bytes, const ImageFile& image) {
  if (avatar < 0) return false;
  const std::uint64_t start = static_cast<std::uint64_t>(avatar) * kBlockSize;
  return start <= image.size() && bytes <= image.size() - start;
}

class Comparer {
 public:
  Comparer(FileSystem& fs, const ImageTree& tree, ImageFile& image, std::vector<std::string>& out)
      : fs_(fs), tree_(tree), image_(image), out_(out) {}

  void run(const std::string& root) {
    for (const ImageProblem& p : tree_.problems) out_.push_back("image problem: " + describe(p));
    if (!tree_.usable) return;
    std::vector<std::pair<int, std::string>> pending{{0, root}};
    while (!pending.empty()) {
      const auto [d, path] = pending.back();
      pending.pop_back();
      compareDirectory(d, path, pending);
    }
    comparePlacements();
  }

 private:
  void compareDirectory(int d, const std::string& source, std::vector<std::pair<int, std::string>>& pending) {
    std::vector<std::string> names;
    if (!fs_.listDirectory(source, names)) {
      out_.push_back("cannot read the source directory " + source);
      return;
    }
    std::map<std::string, FileInfo> onDisk;
    for (const std::string& name : names) {
      const FileInfo info = fs_.stat(source + fs_.separator() + name);
      if (info.kind == FileKind::Regular && name.starts_with('#')) {
        placementFiles_.push_back({tree_.path(d, name), source + fs_.separator() + name});
        continue;
      }
      if (info.kind == FileKind::Missing) continue;  // gone since the listing
      onDisk.emplace(name, info);
    }
    for (const ImageEntry& e : tree_.directories[d].entries) {
      const bool isFile = e.kind() == entry::kKindFile;
      if (!isFile && e.kind() != entry::kKindDirectory) continue;
      const std::string path = tree_.path(d, e.name);
      const auto found = onDisk.find(e.name);
      if (found == onDisk.end()) {
        out_.push_back("only in the image: " + path);
        continue;
      }
      const FileInfo info = found->second;
      onDisk.erase(found);
      const std::string sourcePath = source + fs_.separator() + e.name;
      const FileKind want = isFile ? FileKind::Regular : FileKind::Directory;
      if (info.kind != want) {
        out_.push_back("kind differs: " + path + " is a " + (isFile ? "file" : "directory") + " in the image, " +
                       kindName(info.kind) + " in the source");
      } else if (isFile) {
        compareFile(e, path, sourcePath, info.size);
      } else if (e.directory >= 0) {
        pending.emplace_back(e.directory, sourcePath);
      }
    }
    for (const auto& [name, info] : onDisk) out_.push_back("only in the source: " + tree_.path(d, name));
  }

  static std::string kindName(FileKind kind) {
    switch (kind) {
      case FileKind::Regular:
        return "a file";
      case FileKind::Directory:
        return "a directory";
      case FileKind::Unreadable:
        return "unreadable";
      case FileKind::Other:
      case FileKind::Missing:
        break;
    }
    return "neither a file nor a directory";
  }

  // Reads the source once and every copy once, chunk by chunk.
  void compareFile(const ImageEntry& e, const std::string& path, const std::string& source, std::uint64_t size) {
    if (size != e.byteCount) {
      out_.push_back("size differs: " + path + " has " + std::to_string(e.byteCount) + " bytes in the image, " +
                     std::to_string(size) + " in the source");
      return;
    }
    if (size == 0) return;
    std::vector<std::int32_t> avatars;
    for (const std::int32_t a : e.avatars) {
      if (insideImage(a, size, image_)) {
        avatars.push_back(a);
      } else {
        out_.push_back("content differs: " + path + " has its avatar " + std::to_string(a) + " outside the image");
      }
    }
    const auto in = fs_.openInput(source);
    if (in == nullptr) {
      out_.push_back("cannot read the source file " + source);
      return;
    }
    const PageBuffer want(kChunk);
    const PageBuffer got(kChunk);
    for (std::uint64_t at = 0; at < size && !avatars.empty(); at += kChunk) {
      const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, size - at));
      if (readFully(*in, want.data(), count) != static_cast<long long>(count)) {
        out_.push_back("cannot read the source file " + source);
        return;
      }
      for (auto a = avatars.begin(); a != avatars.end();) {
        const std::uint64_t offset = static_cast<std::uint64_t>(*a) * kBlockSize + at;
        if (!image_.readAt(offset, got.data(), count)) {
          out_.push_back("cannot read the image at byte " + std::to_string(offset));
          return;
        }
        if (std::memcmp(want.data(), got.data(), count) == 0) {
          ++a;
          continue;
        }
        const std::uint64_t byte =
            at +
            static_cast<std::uint64_t>(std::mismatch(want.data(), want.data() + count, got.data()).first - want.data());
        out_.push_back("content differs: " + path + " at avatar " + std::to_string(*a) + ", byte " +
                       std::to_string(byte) + " (block " + std::to_string(*a + byte / kBlockSize) + ")");
        a = avatars.erase(a);
      }
    }
  }

  // The blocks a build of the folder would give each file that a placement
  // file or a system file's fixed record names, against the image's. As in
  // a build, the first placement file of a name counts (in name order, depth
  // first), the system files' own records win, and a record names the first
  // file of its name that the sibling-first walk meets.
  void comparePlacements() {
    IdCounter ids;
    PlacementList list(ids);
    std::sort(placementFiles_.begin(), placementFiles_.end(), [](const auto& a, const auto& b) {
      const std::vector<std::string_view> x = components(a.first), y = components(b.first);
      return std::lexicographical_compare(x.begin(), x.end(), y.begin(), y.end(), discNameLess);
    });
    std::map<std::string, std::string> sourceOf;  // record name -> placement file
    for (const auto& [path, source] : placementFiles_) {
      const std::string name = path.substr(path.rfind('/') + 1);
      if (list.find(name) != nullptr) continue;
      auto record = newPlacementRecord(ids);
      record->name = name;
      const auto in = fs_.openInput(source);
      std::string text(kPlacementFileLimit, '\0');
      const long long filled = in ? readFully(*in, reinterpret_cast<std::uint8_t*>(text.data()), text.size()) : -1;
      if (filled < 0) {
        out_.push_back("cannot read the placement file " + source);
        continue;
      }
      if (filled == 0) continue;
      text.resize(static_cast<std::size_t>(filled));
      parsePlacementText(text, *record);
      sourceOf[name] = source;
      list.append(std::move(record));
    }
    const std::map<std::string, std::pair<int, const ImageEntry*>> targets = firstFilesByName();
    for (const auto& record : list.records()) {
      const auto target = targets.find(foldName(record->name.substr(1)));
      if (target == targets.end()) continue;
      const auto [d, e] = target->second;
      std::vector<std::int64_t> wanted(record->avatars.begin(), record->avatars.begin() + record->lastAvatar + 1);
      if (std::equal(wanted.begin(), wanted.end(), e->avatars.begin(), e->avatars.end())) continue;
      const auto found = sourceOf.find(record->name);
      out_.push_back("placement differs: " + tree_.path(d, e->name) + " is at " + joined(e->avatars) +
                     " in the image, " + (found == sourceOf.end() ? record->name : found->second) + " asks for " +
                     joined(wanted));
    }
  }

  // For each folded name, the first file of that name met by the
  // sibling-first walk of the image: a directory's subdirectories are all
  // visited before their subtrees, the later ones' subtrees first.
  std::map<std::string, std::pair<int, const ImageEntry*>> firstFilesByName() const {
    std::map<std::string, std::pair<int, const ImageEntry*>> first;
    const auto visit = [&](int d) {
      for (const ImageEntry& e : tree_.directories[d].entries) {
        if (e.kind() == entry::kKindFile) first.emplace(foldName(e.name), std::pair{d, &e});
      }
    };
    visit(0);
    std::vector<int> pending{0};  // directories whose subdirectories are to be walked
    while (!pending.empty()) {
      const int d = pending.back();
      pending.pop_back();
      std::vector<int> subs;
      for (const ImageEntry& e : tree_.directories[d].entries) {
        if (e.directory >= 0) subs.push_back(e.directory);
      }
      for (const int sub : subs) visit(sub);
      pending.insert(pending.end(), subs.begin(), subs.end());  // the last sibling's subtree comes first
    }
    return first;
  }

  static std::vector<std::string_view> components(std::string_view path) {
    std::vector<std::string_view> names;
    for (std::size_t at = 1, end; at <= path.size(); at = end + 1) {
      end = std::min(path.find('/', at), path.size());
      names.push_back(path.substr(at, end - at));
    }
    return names;
  }

  template <typename Number>
  static std::string joined(const std::vector<Number>& avatars) {
    std::string text;
    for (const Number avatar : avatars) {
      if (!text.empty()) text += ',';
      text += std::to_string(avatar);
    }
    return text;
  }

  FileSystem& fs_;
  const ImageTree& tree_;
  std::vector<std::pair<std::string, std::string>> placementFiles_;  // path in the image's terms, source path
  ImageFile& image_;
  std::vector<std::string>& out_;
};

bool extractFile(const ImageEntry& e, ImageFile& image, ExtractTarget& target, std::string& error) {
  const std::int64_t avatar = e.avatars.empty() ? -1 : e.avatars[0];
  if (e.byteCount > 0 && !insideImage(avatar, e.byteCount, image)) {
    error = "its first copy lies outside the image";
    return false;
  }
  if (!target.createFile(e.name, error)) return false;
  const PageBuffer buffer(kChunk);
  for (std::uint64_t at = 0; at < e.byteCount; at += kChunk) {
    const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, e.byteCount - at));
    if (!image.readAt(static_cast<std::uint64_t>(avatar) * kBlockSize + at, buffer.data(), count)) {
      error = "cannot read the image";
      target.abandonFile();
      return false;
    }
    if (!target.writeFile(buffer.data(), count, error)) {
      target.abandonFile();
      return false;
    }
  }
  return target.finishFile(error);
}

}  // namespace

std::vector<std::string> compareWithTree(FileSystem& fs, const std::string& dir, const ImageTree& tree,
                                         ImageFile& image) {
  std::vector<std::string> differences;
  Comparer(fs, tree, image, differences).run(dir);
  return differences;
}

ExtractResult extractImage(const ImageTree& tree, ImageFile& image, ExtractTarget& target) {
  ExtractResult result;
  if (!tree.usable) return result;
  struct Frame {
    int dir;
    std::size_t next = 0;
    std::set<std::string> names;  // folded, as the disc compares them
  };
  std::vector<Frame> stack{{0, 0, {}}};
  while (!stack.empty()) {
    Frame& f = stack.back();
    const std::vector<ImageEntry>& entries = tree.directories[f.dir].entries;
    if (f.next == entries.size()) {
      stack.pop_back();
      if (!stack.empty()) target.leaveDirectory();
      continue;
    }
    const ImageEntry& e = entries[f.next++];
    const std::uint32_t kind = e.kind();
    if (kind == entry::kKindLabel) continue;
    const std::string path = tree.path(f.dir, e.name);
    std::string why = unusableName(e.name);
    if (why.empty() && kind != entry::kKindFile && kind != entry::kKindDirectory)
      why = "neither a file nor a directory";
    if (why.empty() && !f.names.insert(foldName(e.name)).second) why = "the disc cannot tell it from an earlier name";
    if (why.empty() && kind == entry::kKindDirectory && e.directory < 0) why = "the directory could not be read";
    std::string error;
    if (!why.empty()) {
      result.skipped.push_back(path + ": " + why);
    } else if (kind == entry::kKindFile) {
      if (extractFile(e, image, target, error)) {
        ++result.files;
      } else {
        result.skipped.push_back(path + ": " + error);
      }
    } else if (target.enterNewDirectory(e.name, error)) {
      ++result.directories;
      stack.push_back({e.directory, 0, {}});  // f is not used past this point
    } else {
      result.skipped.push_back(path + ": " + error);
    }
  }
  return result;
}

}  // namespace vornel
