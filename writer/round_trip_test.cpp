// Whole builds read back with the image reader: generated trees check out,
// match their source and do not depend on the host's order, on how the host
// copies, on directories read ahead or on an output written in block order; the real file system gives the image
// the in-memory one gives.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>

#include "driver/test_build.h"
#include "image/image_compare.h"
#include "platform/fake_image_host.h"
#include "platform/host.h"

namespace vornel {
namespace {

struct Entry {
  std::string path;
  std::optional<std::string> content;  // none: a directory
};

// A pseudo-random tree, the same for the same seed: names of mixed case,
// sizes around the block boundaries, nested directories, and placement
// files with two positions each.
std::vector<Entry> generate(unsigned seed) {
  std::mt19937 rng(seed);
  const auto below = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
  std::vector<Entry> entries{{"src", {}}};
  std::function<void(const std::string&, int)> fill = [&](const std::string& dir, int depth) {
    for (std::size_t i = 0, n = 1 + below(depth == 0 ? 12 : 6); i < n; ++i) {
      static const char* const kNames[] = {"a", "B", "_x", "%s", "Level", "z.map", "data.BIN"};
      const std::string name = kNames[below(7)] + std::to_string(entries.size());
      if (depth < 3 && below(4) == 0) {
        entries.push_back({dir + "/" + name, {}});
        fill(dir + "/" + name, depth + 1);
        continue;
      }
      static constexpr std::size_t kSizes[] = {0, 1, 2047, 2048, 2049, 6145};
      std::string content(below(3) == 0 ? below(20000) : kSizes[below(6)], '\0');
      for (char& c : content) c = static_cast<char>(rng());
      entries.push_back({dir + "/" + name, std::move(content)});
      if (below(5) == 0) {
        const std::size_t at = 5000 + 20 * entries.size();
        entries.push_back({dir + "/#" + name, std::to_string(at) + " " + std::to_string(at + 10)});
      }
    }
  };
  fill("src", 0);
  return entries;
}

void add(FakeFileSystem& fs, const std::vector<Entry>& entries, bool reverse) {
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const Entry& e = entries[reverse ? entries.size() - 1 - i : i];
    e.content ? fs.addFile(e.path, *e.content) : fs.addDirectory(e.path);
  }
}

TEST(RoundTripTest, GeneratedTreesCheckOutWhateverTheHostsOrderCopiesReadAheadAndOutput) {
  for (unsigned seed = 1; seed <= 8; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    const std::vector<Entry> entries = generate(seed);
    const std::string da = std::to_string(1 + seed % 8), ra = std::to_string(1 + seed * 3 % 8);
    const std::vector<std::string> options = {"-da", da, "-ra", ra, "-vl", "TRIP " + da};
    FakeFileSystem forward, reverse;
    add(forward, entries, false);
    add(reverse, entries, true);
    reverse.copyAtMost = std::array<std::uint64_t, 4>{1, 1000, 4096, 1 << 30}[seed % 4];
    reverse.readAtMost = 700 * seed;  // reads cut short, as a pipe or a network file system cuts them
    const BuildRun a = buildInMemory(forward, options);
    const BuildRun b = buildInMemory(reverse, options, &reverse);
    std::vector<std::string> toStdout = options;
    toStdout.insert(toStdout.end(), {"-out", "-"});
    const BuildRun c = buildInMemory(forward, toStdout);  // in block order, its text on standard error
    ASSERT_EQ(a.status, 0) << a.text;
    EXPECT_TRUE(b.status == 0 && b.text == a.text && b.image == a.image);
    EXPECT_TRUE(c.status == 0 && c.text.empty() && c.errors == a.text && c.image == a.image);
    MemoryImageFile file(a.image);
    const ImageTree tree = readImage(file, true);
    EXPECT_EQ(compareWithTree(forward, "src", tree, file), std::vector<std::string>{});
    EXPECT_EQ(tree.label.volumeLabel, "TRIP " + da);
    EXPECT_EQ(tree.label.rootAvatars.size(), std::stoul(ra));
    for (const ImageDirectory& dir : tree.directories) {
      for (const ImageEntry& e : dir.entries) EXPECT_TRUE(e.kind() != 7 || e.avatars.size() == stoul(da)) << e.name;
    }
  }
}

// The same tree on disk, through the host's own copies, and in memory,
// through plain reads and writes, gives the same image and the same text.
TEST(RoundTripTest, RealAndFakeFileSystemsGiveTheSameImage) {
  std::vector<Entry> entries = generate(11);
  std::string big(3 * 1024 * 1024 + 5, '\0');  // more than any one copy buffer
  std::mt19937 rng(11);
  for (char& c : big) c = static_cast<char>(rng());
  entries.push_back({"src/big.bin", big});
  FakeFileSystem fake;
  add(fake, entries, false);
  fake.readAtMost = 100000;  // the big file comes in pieces smaller than a copy buffer
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("vornel-round-trip-" + std::to_string(std::random_device()()));
  ASSERT_TRUE(std::filesystem::create_directory(dir));
  for (const Entry& e : entries) {
    e.content ? void(std::ofstream(dir / e.path, std::ios::binary) << *e.content)
              : void(std::filesystem::create_directory(dir / e.path));
  }
  const auto host = newHostFileSystem(), helper = newHostFileSystem();
  const std::string src = (dir / "src").string(), out = (dir / "out.iso").string();
  const char* argv[] = {"vornel", "-in", src.c_str(), "-out", out.c_str()};
  StringConsole console;
  const int status = runMain(5, argv, *host, console, helper.get());
  std::string written;
  {
    std::ifstream image(out, std::ios::binary);  // closed before the folder goes, as Windows requires
    written.assign(std::istreambuf_iterator<char>(image), std::istreambuf_iterator<char>());
  }
  std::filesystem::remove_all(dir);
  const BuildRun inMemory = buildInMemory(fake);
  ASSERT_EQ(status, 0) << console.text();
  EXPECT_EQ(console.text(), inMemory.text);
  EXPECT_TRUE(written == inMemory.image);
}

}  // namespace
}  // namespace vornel
