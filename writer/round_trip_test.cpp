// Whole builds of generated trees, run in-process on the in-memory file
// system and read back with the image reader: every file at every avatar,
// every directory's entries in the order of the source tree, no block owned
// twice, the filler in every block that nothing owns.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "driver/build.h"
#include "platform/fake_file_system.h"
#include "image/image_reader.h"
#include "platform/posix_file_system.h"

namespace vornel {
namespace {

// What the source tree holds, keyed by paths relative to the source directory.
struct Expected {
  struct Dir {
    std::vector<std::string> files;  // enumeration order, placement files left out
    std::vector<std::string> dirs;
  };
  std::map<std::string, Dir> dirs{{"", {}}};
  std::map<std::string, std::string> contents;
  std::map<std::string, std::string> sources;  // every file, placement files too
};

std::string join(const std::string& dir, const std::string& name) { return dir.empty() ? name : dir + "/" + name; }

// Builds a pseudo-random tree, the same for the same seed.
class TreeGenerator {
 public:
  TreeGenerator(unsigned seed, FakeFileSystem& fs, Expected& expected) : rng_(seed), fs_(fs), expected_(expected) {
    fs_.addDirectory("src");
  }

  std::uint32_t below(std::uint32_t bound) { return static_cast<std::uint32_t>(rng_() % bound); }

  void file(const std::string& dir, const std::string& name, std::string content) {
    fs_.addFile("src/" + join(dir, name), content);
    expected_.sources[join(dir, name)] = content;
    if (name[0] == '#') return;
    expected_.dirs[dir].files.push_back(name);
    expected_.contents[join(dir, name)] = std::move(content);
  }
  void randomFile(const std::string& dir, const std::string& name) {
    static constexpr std::size_t kSizes[] = {0, 1, 2047, 2048, 2049};
    const std::size_t size = below(3) == 0 ? below(20481) : kSizes[below(5)];
    std::string content(size, '\0');
    for (char& c : content) c = static_cast<char>(below(256));
    file(dir, name, std::move(content));
  }
  void directory(const std::string& dir, const std::string& name) {
    fs_.addDirectory("src/" + join(dir, name));
    expected_.dirs[dir].dirs.push_back(name);
    expected_.dirs[join(dir, name)];
  }
  // Files and subdirectories interleaved, so that the image's files-first
  // order differs from the enumeration order.
  void fill(const std::string& dir, int depth) {
    const std::uint32_t items = 1 + below(7);
    for (std::uint32_t i = 0; i < items; ++i) {
      const std::string name = (depth < 3 && below(3) == 0 ? "d" : "f") + std::to_string(counter_++);
      if (name[0] == 'd') {
        directory(dir, name);
        fill(join(dir, name), depth + 1);
      } else {
        randomFile(dir, name + (below(2) == 0 ? ".bin" : ""));
      }
    }
  }

 private:
  std::mt19937 rng_;
  FakeFileSystem& fs_;
  Expected& expected_;
  int counter_ = 0;
};

// A tree with a placed file, a system file and a directory of many blocks.
void generate(unsigned seed, FakeFileSystem& fs, Expected& expected) {
  TreeGenerator g(seed, fs, expected);
  g.fill("", 0);
  g.file("", "#placed.dat", "3000 3100\n");
  g.directory("", "wide");
  for (int i = 0; i < 60; ++i) g.file("wide", "w" + std::to_string(i), std::string(g.below(2), 'w'));
  g.file("", "rom_tags", std::string(1000, 't'));
  g.fill("wide", 2);
  g.directory("wide", "deep");
  g.file("wide/deep", "placed.dat", std::string(3000, 'p'));
  g.fill("", 1);
}

struct BuildRun {
  int status;
  std::string console;
  std::string image;
};

// Reads and checks a whole image.
ImageTree readWhole(const std::string& image) {
  MemoryImageFile file(image);
  return readImage(file, true);
}

BuildRun build(FileSystem& fs, const std::string& source, const std::string& output,
               const std::vector<std::string>& options = {}) {
  std::vector<const char*> argv = {"vornel", "-in", source.c_str(), "-out", output.c_str()};
  for (const auto& option : options) argv.push_back(option.c_str());
  StringConsole console;
  const int status = runMain(static_cast<int>(argv.size()), argv.data(), fs, console);
  return {status, console.text(), {}};
}

BuildRun build(unsigned seed, const std::vector<std::string>& options, Expected& expected) {
  FakeFileSystem fs;
  generate(seed, fs, expected);
  // The expected entries are listed in the order the generator makes them.
  std::vector<std::string> inGeneratedOrder = {"-order", "disk"};
  inGeneratedOrder.insert(inGeneratedOrder.end(), options.begin(), options.end());
  BuildRun run = build(fs, "src", "out.iso", inGeneratedOrder);
  run.image = fs.image();
  return run;
}

struct Variant {
  unsigned seed;
  int dirAvatars;
  int rootAvatars;
};

TEST(RoundTripTest, GeneratedTreesReadBackWhole) {
  for (const Variant v : {Variant{1, 3, 3}, Variant{2, 1, 1}, Variant{3, 8, 2}, Variant{4, 5, 8}}) {
    SCOPED_TRACE("seed " + std::to_string(v.seed));
    Expected expected;
    const BuildRun run =
        build(v.seed, {"-da", std::to_string(v.dirAvatars), "-ra", std::to_string(v.rootAvatars)}, expected);
    ASSERT_EQ(run.status, 0) << run.console;
    MemoryImageFile file(run.image);
    const ImageTree tree = readImage(file, true);
    ASSERT_EQ(tree.problemCount, 0u) << describe(tree.problems[0]);
    EXPECT_EQ(tree.label.volumeLabel, "CD_ROM");
    ASSERT_EQ(tree.directories.size(), expected.dirs.size());
    EXPECT_EQ(tree.fileCount, expected.contents.size());
    EXPECT_EQ(tree.directories[0].avatars.size(), static_cast<std::size_t>(v.rootAvatars));

    for (std::size_t d = 0; d < tree.directories.size(); ++d) {
      const auto& dir = tree.directories[d];
      const std::string dirPath = tree.path(static_cast<int>(d)).substr(1);
      SCOPED_TRACE("directory '" + dirPath + "'");
      ASSERT_EQ(expected.dirs.count(dirPath), 1u);
      const Expected::Dir& want = expected.dirs.at(dirPath);
      std::vector<std::string> names;
      for (const auto& e : dir.entries) names.push_back(e.name);
      std::vector<std::string> wantNames;
      if (dirPath.empty()) wantNames.push_back("Disc label");
      wantNames.insert(wantNames.end(), want.files.begin(), want.files.end());
      wantNames.insert(wantNames.end(), want.dirs.begin(), want.dirs.end());
      ASSERT_EQ(names, wantNames);

      for (const auto& e : dir.entries) {
        const std::string path = join(dirPath, e.name);
        if (e.kind() == 7) {
          EXPECT_EQ(e.avatars.size(), static_cast<std::size_t>(v.dirAvatars)) << path;
        } else if (e.kind() == 2) {
          EXPECT_EQ(readContent(file, e), expected.contents.at(path)) << path;
          const std::size_t avatars = path == "rom_tags" || path == "wide/deep/placed.dat" ? 2 : 1;
          EXPECT_EQ(e.avatars.size(), avatars) << path;
        }
      }
    }
    EXPECT_EQ(tree.entry("/rom_tags")->avatars, (std::vector<std::int32_t>{1, 226}));
    EXPECT_EQ(tree.entry("/wide/deep/placed.dat")->avatars, (std::vector<std::int32_t>{3000, 3100}));
    EXPECT_EQ(std::string(tree.entry("/wide/deep/placed.dat")->type.data(), 4), "dat ");
    // The 60 entries of "wide" and its subdirectories need more than one block.
    EXPECT_GT(tree.entry("/wide")->blockCount, 2);
  }
}

TEST(RoundTripTest, SameTreeAndOptionsGiveTheSameImageAndText) {
  Expected first;
  Expected second;
  const std::vector<std::string> options = {"-da", "2", "-ra", "4", "-vl", "ROUND TRIP"};
  const BuildRun a = build(7, options, first);
  const BuildRun b = build(7, options, second);
  ASSERT_EQ(a.status, 0) << a.console;
  EXPECT_EQ(a.status, b.status);
  EXPECT_EQ(a.console, b.console);
  EXPECT_TRUE(a.image == b.image);
  const ImageTree tree = readWhole(a.image);
  ASSERT_EQ(tree.problemCount, 0u) << describe(tree.problems[0]);
  EXPECT_EQ(tree.label.volumeLabel, "ROUND TRIP");
}

// Adds the tree under dir on disk to the in-memory file system, in the
// order the host lists it, so that both give the entries in the same order.
void mirror(PosixFileSystem& posix, const std::string& dir, const Expected& expected, const std::string& relative,
            FakeFileSystem& fake) {
  std::vector<std::string> names;
  ASSERT_TRUE(posix.listDirectory(dir + "/", names));
  for (const auto& name : names) {
    const std::string path = join(relative, name);
    if (expected.sources.count(path) != 0) {
      fake.addFile("src/" + path, expected.sources.at(path));
    } else {
      fake.addDirectory("src/" + path);
      mirror(posix, dir + "/" + name, expected, path, fake);
    }
  }
}

// The same tree on disk, through the host's file services, and in memory,
// through plain reads and writes, gives the same image byte for byte.
TEST(RoundTripTest, RealAndFakeFileSystemsGiveTheSameImage) {
  Expected expected;
  FakeFileSystem generated;
  generate(11, generated, expected);
  std::mt19937 rng(11);
  std::string big(3 * 1024 * 1024 + 5, '\0');  // more than any one copy buffer
  for (char& c : big) c = static_cast<char>(rng());
  expected.sources["wide/big.bin"] = big;

  char pattern[] = "/tmp/vornel-round-trip-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::filesystem::path dir = pattern;
  for (const auto& [path, unused] : expected.dirs) std::filesystem::create_directories(dir / "src" / path);
  for (const auto& [path, content] : expected.sources) std::ofstream(dir / "src" / path, std::ios::binary) << content;
  PosixFileSystem posix;
  FakeFileSystem fake;
  fake.addDirectory("src");
  mirror(posix, (dir / "src").string(), expected, "", fake);

  const BuildRun inMemory = build(fake, "src", "out.iso");
  const BuildRun onDisk = build(posix, (dir / "src").string(), (dir / "out.iso").string());
  std::ifstream image(dir / "out.iso", std::ios::binary);
  const std::string written{std::istreambuf_iterator<char>(image), std::istreambuf_iterator<char>()};
  std::filesystem::remove_all(dir);
  ASSERT_EQ(inMemory.status, 0) << inMemory.console;
  ASSERT_EQ(onDisk.status, 0) << onDisk.console;
  EXPECT_EQ(onDisk.console, inMemory.console);
  EXPECT_EQ(written.size(), fake.image().size());
  EXPECT_TRUE(written == fake.image());
}

// The reader must see faults, or the round trips above prove nothing.
TEST(RoundTripTest, ReaderReportsDamagedImages) {
  Expected expected;
  const BuildRun run = build(5, {"-ra", "2"}, expected);
  ASSERT_EQ(run.status, 0) << run.console;
  const ImageTree tree = readWhole(run.image);
  ASSERT_EQ(tree.problemCount, 0u) << describe(tree.problems[0]);
  const std::int64_t root = tree.directories[0].avatars[1];

  const auto damaged = [&](std::vector<std::int64_t> offsets, const std::string& expectedStart) {
    std::string image = run.image;
    for (const std::int64_t offset : offsets) {
      if (offset < 0) {
        image.resize(image.size() - 2048);
      } else {
        image[static_cast<std::size_t>(offset)] ^= 0x01;
      }
    }
    std::string problems;
    for (const ImageProblem& p : readWhole(image).problems) {
      if (describe(p).starts_with(expectedStart)) return;
      problems += describe(p) + "\n";
    }
    ADD_FAILURE() << "no problem starts with: " << expectedStart << "\n" << problems;
  };
  // The second copy of the root directory.
  damaged({root * 2048 + 100}, "block " + std::to_string(root) + ": copy 1 of directory / differs");
  // The filler after the end of a 3000-byte file at both its avatars, and
  // one byte of its second copy.
  damaged({3001 * 2048 + 1000, 3101 * 2048 + 1000},
          "block 3001, offset 1000: filler expected after the last byte of file /wide/deep/placed.dat");
  damaged({3100 * 2048 + 5}, "block 3100: copy 1 of file /wide/deep/placed.dat differs");
  // A block that nothing owns: right before the placed file.
  damaged({2999 * 2048 + 7}, "block 2999, offset 7: filler expected in a block that nothing owns");
  // The label copy, and an image one block short of the label's count.
  damaged({225 * 2048 + 41}, "block 225, offset 41: the label copies differ");
  damaged({-1}, "block 0, offset 80: blockCount");
}

}  // namespace
}  // namespace vornel
