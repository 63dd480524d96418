// The real program on real directories: names that look like format
// directives or are not text, a pool filled to its last block, placement
// records that find no file, and trees of extreme width and depth. Every
// image is read back whole.

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <string>
#include <unordered_map>
#include <vector>

#include "driver/tool_runner.h"
#include "image/image_reader.h"
#include "tree/source_tree.h"

namespace vornel {
namespace {

constexpr std::int64_t kBlock = 2048;

// A fresh directory for one test, removed with everything in it. Trees of
// tens of thousands of entries go to a memory file system when the host has
// one: making and removing them on a disk can take a minute.
class TempDir {
 public:
  explicit TempDir(bool inMemory = false) {
    const bool shm = inMemory && ::access("/dev/shm", W_OK) == 0 && std::filesystem::is_directory("/dev/shm");
    const std::filesystem::path base = shm ? std::filesystem::path("/dev/shm") : std::filesystem::temp_directory_path();
    std::string pattern = (base / "vornel-hostile-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
    path_ = pattern;
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void makeDir(const std::string& path) { ASSERT_EQ(::mkdir(path.c_str(), 0755), 0) << path; }

void writeFile(const std::string& path, const std::string& content) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(::write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
  ::close(fd);
}

// A file of `size` bytes that holds `head` at its start and `tail` at its
// end and costs no disk space in between.
void writeSparseFile(const std::string& path, std::int64_t size, const std::string& head, const std::string& tail) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(::ftruncate(fd, size), 0);
  ASSERT_EQ(::pwrite(fd, head.data(), head.size(), 0), static_cast<ssize_t>(head.size()));
  ASSERT_EQ(::pwrite(fd, tail.data(), tail.size(), size - static_cast<std::int64_t>(tail.size())),
            static_cast<ssize_t>(tail.size()));
  ::close(fd);
}

std::string readFile(const std::string& path) {
  std::string content;
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return "<cannot open>";
  char buffer[4096];
  for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;)
    content.append(buffer, static_cast<std::size_t>(got));
  ::close(fd);
  return content;
}

bool exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// The names in a directory in the disc's name order, which is the order the
// program takes them in.
std::vector<std::string> listDir(const std::string& path) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return names;
  while (const dirent* e = ::readdir(dir)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.emplace_back(e->d_name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end(), discNameLess);
  return names;
}

// An image file read back whole with the image reader.
class Image {
 public:
  explicit Image(const std::string& path) {
    std::string error;
    file_ = host_.openImage(path, error);
    if (file_ == nullptr) {
      problem = error;
      return;
    }
    tree = readImage(*file_, true);
    if (tree.problemCount > 0) problem = describe(tree.problems[0]);
  }
  std::size_t size() const { return file_ == nullptr ? 0 : file_->size(); }
  // Bytes of the first copy of the file at a path ("/a/b").
  std::string content(const std::string& path, std::uint64_t from = 0, std::uint64_t size = UINT64_MAX) {
    const ImageEntry* e = tree.entry(path);
    return e == nullptr ? "<no such entry>" : readContent(*file_, *e, from, size);
  }
  std::string content(const ImageEntry& e) { return readContent(*file_, e); }

  ImageTree tree;
  std::string problem;

 private:
  PosixImageHost host_;
  std::unique_ptr<ImageFile> file_;
};

// The image holds the tree on disk: in every directory the files in host
// name order (placement files left out), then the subdirectories in name order,
// and every file's bytes.
void expectSameAsDisk(Image& image, const std::string& root) {
  const ImageTree& tree = image.tree;
  std::unordered_map<std::string, const ImageDirectory*> byPath;
  for (std::size_t d = 0; d < tree.directories.size(); ++d) {
    byPath[tree.path(static_cast<int>(d)).substr(1)] = &tree.directories[d];
  }
  std::size_t directories = 0;
  for (std::vector<std::string> pending{""}; !pending.empty();) {
    const std::string rel = pending.back();
    pending.pop_back();
    ++directories;
    const std::string path = rel.empty() ? root : root + "/" + rel;
    const auto found = byPath.find(rel);
    ASSERT_NE(found, byPath.end()) << "no directory '" << rel << "' in the image";
    const ImageDirectory& dir = *found->second;
    std::vector<std::string> files;
    std::vector<std::string> dirs;
    std::unordered_map<std::string, std::int64_t> sizes;
    for (const auto& name : listDir(path)) {
      struct stat st;
      ASSERT_EQ(::stat((path + "/" + name).c_str(), &st), 0);
      if (S_ISDIR(st.st_mode)) {
        dirs.push_back(name);
      } else if (name[0] != '#') {
        files.push_back(name);
        sizes[name] = st.st_size;
      }
    }
    std::vector<std::string> want = rel.empty() ? std::vector<std::string>{"Disc label"} : std::vector<std::string>{};
    want.insert(want.end(), files.begin(), files.end());
    want.insert(want.end(), dirs.begin(), dirs.end());
    std::vector<std::string> names;
    for (const auto& e : dir.entries) names.push_back(e.name);
    ASSERT_EQ(names, want) << "in directory '" << rel << "'";
    for (const auto& e : dir.entries) {
      if (e.kind() != 2) continue;
      ASSERT_EQ(e.byteCount, sizes[e.name]) << rel << "/" << e.name;
      if (e.byteCount > 0) {
        ASSERT_EQ(image.content(e), readFile(path + "/" + e.name)) << rel << "/" << e.name;
      }
    }
    for (const auto& d : dirs) pending.push_back(rel.empty() ? d : rel + "/" + d);
  }
  EXPECT_EQ(directories, tree.directories.size());
}

std::string lengthError(const std::string& name) {
  return "Name of file(directory) " + name + " exceed max name length.\n";
}

TEST(HostileTreeTest, NamesAreStoredAndPrintedVerbatim) {
  TempDir tmp;
  const std::string src = tmp / "src";
  const std::string image = tmp / "image.iso";
  const std::string name32 = "%s%n%i" + std::string(26, 'L');
  makeDir(src);
  writeFile(src + "/%s%n%i", "directives");
  writeFile(src + "/new\nline", "line feed");
  writeFile(src + "/\xff\xfe\x80\xc3", "not text");
  writeFile(src + "/" + name32, "thirty-two");
  writeFile(src + "/%n.dat", std::string(3000, 'n'));
  writeFile(src + "/#%n.dat", "500 700");
  makeDir(src + "/#x");  // a directory, not a placement file
  writeFile(src + "/#x/inner", "inside");

  const ToolRun ok = runTool({"-in", src, "-out", image});
  ASSERT_EQ(ok.status, 0) << ok.out;
  Image read(image);
  ASSERT_EQ(read.problem, "");
  expectSameAsDisk(read, src);
  EXPECT_EQ(read.tree.entry("/%n.dat")->avatars, (std::vector<std::int32_t>{500, 700}));
  ASSERT_NE(read.tree.entry("/#x"), nullptr);
  EXPECT_EQ(read.tree.entry("/#x")->kind(), 7u);
  EXPECT_EQ(read.content("/#x/inner"), "inside");
  ASSERT_NE(read.tree.entry("/" + name32), nullptr);

  // A 33-byte name fails the build before anything is written, and the
  // message shows it as it is.
  const std::string name33 = "%s%n\n\xff" + std::string(27, 'M');
  ASSERT_EQ(name33.size(), 33u);
  writeFile(src + "/#x/" + name33, "");
  const ToolRun tooLong = runTool({"-in", src, "-out", tmp / "long.iso"});
  EXPECT_EQ(tooLong.status, 255);
  EXPECT_NE(tooLong.out.find(lengthError(name33)), std::string::npos) << tooLong.out;
  EXPECT_FALSE(exists(tmp / "long.iso"));
  ASSERT_EQ(::unlink((src + "/#x/" + name33).c_str()), 0);

  // A placement that collides with the label shows the record's name as it is.
  writeFile(src + "/#%s%n%i", "0");
  const ToolRun collide = runTool({"-in", src, "-out", tmp / "collide.iso"});
  EXPECT_EQ(collide.status, 255);
  EXPECT_NE(collide.out.find("Error avatar placement in file #%s%n%i, avatar: #0\n"), std::string::npos) << collide.out;
  EXPECT_FALSE(exists(tmp / "collide.iso"));
}

TEST(HostileTreeTest, PoolFilledToItsLastBlockAndOneBlockMore) {
  // With one root avatar the label owns blocks 0 and 225, the file "a" of
  // 223 blocks takes 1 to 223, the root's single block 224, and the big file
  // 226 to 329999, the last block of the pool.
  TempDir tmp;
  const std::string src = tmp / "src";
  const std::string big = "%s%n big";
  const std::int64_t bigBlocks = 329999 - 226 + 1;
  makeDir(src);
  writeSparseFile(src + "/a", 223 * kBlock, "a-head", "a-tail");

  // One block more, in the big file or in the root, fails before the output
  // file is created.
  writeSparseFile(src + "/" + big, bigBlocks * kBlock + 1, "big-head", "big-tail");
  ToolRun run = runTool({"-in", src, "-out", tmp / "image.iso", "-ra", "1"});
  EXPECT_EQ(run.status, 255);
  EXPECT_NE(run.out.find("Error place file " + big + " in free blocks pool.\n"), std::string::npos) << run.out;
  EXPECT_FALSE(exists(tmp / "image.iso"));
  writeSparseFile(src + "/" + big, bigBlocks * kBlock, "big-head", "big-tail");
  writeSparseFile(src + "/a", 224 * kBlock, "a-head", "a-tail");
  run = runTool({"-in", src, "-out", tmp / "image.iso", "-ra", "1"});
  EXPECT_EQ(run.status, 255);
  EXPECT_NE(run.out.find("Error place (stage 2) directory " + src + "/ in free blocks pool.\n"), std::string::npos)
      << run.out;
  EXPECT_FALSE(exists(tmp / "image.iso"));

  writeSparseFile(src + "/a", 223 * kBlock - 1, "a-head", "a-tail");
  run = runTool({"-in", src, "-out", tmp / "image.iso", "-ra", "1"});
  ASSERT_EQ(run.status, 0) << run.out;
  Image read(tmp / "image.iso");
  ASSERT_EQ(read.size(), 675840000u);
  ASSERT_EQ(read.problem, "");
  EXPECT_EQ(read.tree.directories[0].avatars, std::vector<std::int32_t>{224});
  const ImageEntry& a = *read.tree.entry("/a");
  const ImageEntry& b = *read.tree.entry("/" + big);
  EXPECT_EQ(a.avatars, std::vector<std::int32_t>{1});
  EXPECT_EQ(b.avatars, std::vector<std::int32_t>{226});
  ASSERT_EQ(b.byteCount, static_cast<std::size_t>(bigBlocks * kBlock));
  EXPECT_EQ(read.content("/" + big, 0, 8), "big-head");
  EXPECT_EQ(read.content("/" + big, b.byteCount - 8), "big-tail");
  EXPECT_EQ(read.content("/a", a.byteCount - 6), "a-tail");
  // The hole in between reads as zeros, not as filler or another file.
  const std::string zeros(1 << 20, '\0');
  for (std::uint64_t at = 8; at + zeros.size() < b.byteCount - 8; at += 37 * zeros.size()) {
    ASSERT_EQ(read.content("/" + big, at, zeros.size()), zeros) << at;
  }
}

TEST(HostileTreeTest, PlacementRecordsThatFindNoFileOrRepeatAName) {
  TempDir tmp;
  const std::string src = tmp / "src";
  makeDir(src);
  makeDir(src + "/d1");
  writeFile(src + "/#d1", "300");       // names a directory: skipped
  writeFile(src + "/#missing", "400");  // names no file: skipped
  writeFile(src + "/data.bin", "payload");
  makeDir(src + "/A");
  makeDir(src + "/B");
  writeFile(src + "/A/#Data.bin", "500");
  writeFile(src + "/B/#DATA.BIN", "600");
  // Only the first of the two records met by the scan, in name order, is read.
  const std::int32_t expected = 500;

  const ToolRun run = runTool({"-in", src, "-out", tmp / "image.iso"});
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.out.find("Error"), std::string::npos) << run.out;
  Image read(tmp / "image.iso");
  ASSERT_EQ(read.problem, "");
  expectSameAsDisk(read, src);
  EXPECT_EQ(read.tree.entry("/data.bin")->avatars, std::vector<std::int32_t>{expected});
  EXPECT_NE(read.tree.entry("/d1")->avatars[0], 300);
  // The placed file is the highest block: nothing went to 300 or 400 on top.
  EXPECT_EQ(read.tree.label.blockCount, expected + 1);
}

TEST(HostileTreeTest, DirectoryOfHundredThousandFiles) {
  TempDir tmp(true);
  const std::string src = tmp / "src";
  makeDir(src);
  // Hard links to files outside the tree: a name costs far less to make
  // than a new file, and each is an entry of its own for the scan. Some
  // file systems allow 65000 links to one file.
  writeFile(tmp / "empty0", "");
  writeFile(tmp / "empty1", "");
  writeFile(tmp / "one", "1");
  for (int i = 0; i < 100000; ++i) {
    const std::string target = tmp / (i % 100 == 0 ? "one" : "empty" + std::to_string(i / 50000));
    ASSERT_EQ(::link(target.c_str(), (src + "/file" + std::to_string(i)).c_str()), 0) << i;
  }
  const ToolRun run = runTool({"-in", src, "-out", tmp / "image.iso"});
  ASSERT_EQ(run.status, 0) << run.out.substr(0, 2000);
  Image read(tmp / "image.iso");
  ASSERT_EQ(read.problem, "");
  EXPECT_EQ(read.tree.fileCount, 100000u);
  // The 1000 one-byte files take blocks 1 to 1001 around the label's copy;
  // the root's 3572 blocks follow, three times, 3584 blocks apart.
  EXPECT_EQ(read.tree.directories[0].avatars, (std::vector<std::int32_t>{1002, 4586, 8170}));
  EXPECT_EQ(read.tree.label.blockCount, 8170 + 3572);
  expectSameAsDisk(read, src);
}

TEST(HostileTreeTest, DirectoryOfFiftyThousandEmptySubdirectories) {
  TempDir tmp(true);
  const std::string src = tmp / "src";
  makeDir(src);
  for (int i = 0; i < 50000; ++i) makeDir(src + "/dir" + std::to_string(i));
  const ToolRun run = runTool({"-in", src, "-out", tmp / "image.iso"});
  ASSERT_EQ(run.status, 0) << run.out.substr(0, 2000);
  Image read(tmp / "image.iso");
  ASSERT_EQ(read.problem, "");
  ASSERT_EQ(read.tree.directories.size(), 50001u);
  expectSameAsDisk(read, src);
}

TEST(HostileTreeTest, ChainOfDirectoriesAsDeepAsPathsAllow) {
  // src/d/d/.../d/f: the file's path, the longest the program composes, is
  // PATH_MAX - 1 bytes or one less.
  TempDir tmp(true);
  const std::string src = tmp / "src";
  makeDir(src);
  const std::size_t depth = (PATH_MAX - 1 - src.size() - 2) / 2;
  int fd = ::open(src.c_str(), O_RDONLY | O_DIRECTORY);
  for (std::size_t i = 0; i < depth && fd >= 0; ++i) {
    ASSERT_EQ(::mkdirat(fd, "d", 0755), 0) << i;
    const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY);
    ::close(fd);
    fd = next;
  }
  ASSERT_GE(fd, 0);
  const int file = ::openat(fd, "f", O_WRONLY | O_CREAT, 0644);
  ASSERT_EQ(::write(file, "bottom", 6), 6);
  ::close(file);
  ::close(fd);
  std::string deepest = src;
  for (std::size_t i = 0; i < depth; ++i) deepest += "/d";
  ASSERT_GE(deepest.size() + 2, static_cast<std::size_t>(PATH_MAX - 2));
  ASSERT_LE(deepest.size() + 2, static_cast<std::size_t>(PATH_MAX - 1));

  const ToolRun run = runTool({"-in", src, "-out", tmp / "image.iso"});
  ASSERT_EQ(run.status, 0) << run.out.substr(0, 2000);
  Image read(tmp / "image.iso");
  ASSERT_EQ(read.problem, "");
  ASSERT_EQ(read.tree.directories.size(), depth + 1);
  const ImageDirectory& bottom = read.tree.directories.back();
  ASSERT_EQ(bottom.entries.size(), 1u);
  EXPECT_EQ(read.content(bottom.entries[0]), "bottom");
  EXPECT_EQ(read.tree.path(static_cast<int>(depth)).size(), 2 * depth);
}

}  // namespace
}  // namespace vornel
