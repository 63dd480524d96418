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
#include <set>

#include "driver/test_build.h"
#include "image/image_compare.h"
#include "inspect/listing.h"
#include "layout/layout_document.h"
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

std::string listing(const std::string& image) {
  MemoryImageFile file(image);
  StringConsole json;
  listJson(readImage(file, false), json);
  return json.text();
}

// Extracts an image into a new tree under src and lists it as JSON into
// layout.json beside it: what a user starts a rebuild from.
FakeFileSystem extractAndList(const std::string& image) {
  MemoryImageFile file(image);
  const ImageTree tree = readImage(file, false);
  FakeImageHost host;
  std::string error;
  extractImage(tree, file, *host.openExtractRoot("x", error));
  FakeFileSystem fs;
  fs.addDirectory("src");
  for (const auto& [path, content] : host.extracted["x"]) {
    path.ends_with('/') ? fs.addDirectory("src/" + path.substr(0, path.size() - 1)) : fs.addFile("src/" + path, content);
  }
  fs.addFile("layout.json", listing(image));
  return fs;
}

// The blocks at which two images differ, the longer one's extra blocks included.
std::set<std::size_t> differingBlocks(const std::string& a, const std::string& b) {
  std::set<std::size_t> blocks;
  for (std::size_t at = 0; at < std::max(a.size(), b.size()); at += 2048) {
    if (a.compare(at, 2048, b, std::min(at, b.size()), 2048) != 0) blocks.insert(at / 2048);
  }
  return blocks;
}

// The blocks of every copy of a file or a directory.
void addBlocksOf(const std::vector<std::int32_t>& avatars, std::int32_t count, std::set<std::size_t>& blocks) {
  for (const std::int32_t avatar : avatars) {
    for (std::int32_t k = 0; k < count; ++k) blocks.insert(static_cast<std::size_t>(avatar + k));
  }
}

// Seeded trees with placement files (so ids have gaps), system files, names
// that repeat across folders in either case, both orders and random avatar
// counts and labels: built, checked, extracted, listed and rebuilt through
// -layout, each gives its image back byte for byte. A file changed in place
// changes only its own blocks; a new file only its blocks, its directory's
// and the label's block count, and takes an id above every listed one.
TEST(RoundTripTest, ExtractListAndRebuildGivesTheSameImage) {
  constexpr unsigned kTrees = 40;
  for (unsigned seed = 1; seed <= kTrees; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    std::vector<Entry> entries = generate(seed);
    std::set<std::string> folders;
    for (const Entry& e : entries) if (!e.content) folders.insert(e.path);
    for (const std::string& dir : folders) entries.push_back({dir + (rng() % 2 ? "/map.dat" : "/MAP.DAT"), "m"});
    entries.push_back({"src/#Map.Dat", "7000"});
    entries.push_back({"src/boot_code", std::string(rng() % 5000, 'b')});
    entries.push_back({*folders.begin() + "/" + std::string(32, char('a' + seed % 26)), "a name of 32 bytes"});
    if (seed % 3 == 0) entries.push_back({*folders.rbegin() + "/rom_tags", "tags"});
    FakeFileSystem source;
    add(source, entries, seed % 2 == 0);
    const std::vector<std::string> options = {
        "-da", std::to_string(1 + rng() % 8), "-ra", std::to_string(1 + rng() % 8),
        "-vl", std::string(rng() % 32, char('A' + seed % 26)), "-order", seed % 2 ? "name" : "disk"};
    const BuildRun original = buildInMemory(source, options);
    ASSERT_EQ(original.status, 0) << original.text << original.errors;
    MemoryImageFile originalFile(original.image);
    ASSERT_EQ(readImage(originalFile, true).problemCount, 0u);

    FakeFileSystem rebuild = extractAndList(original.image);
    const std::vector<std::string> layout = {"-layout", "layout.json", "-order", seed % 3 ? "name" : "disk"};
    const BuildRun again = buildInMemory(rebuild, layout);
    ASSERT_TRUE(again.status == 0 && again.errors.empty() && again.image == original.image) << again.errors;

    // One file changed in place, its size kept: only its own copies differ.
    const ImageTree originalTree = readImage(originalFile, false);
    std::vector<const Entry*> files;
    for (const Entry& e : entries) {
      if (e.content && !e.content->empty() && e.path.find('#') == std::string::npos) files.push_back(&e);
    }
    const Entry& changed = *files[rng() % files.size()];
    std::string content = *changed.content;
    content[rng() % content.size()] ^= 1;
    rebuild.setContent(changed.path, content);
    const BuildRun edited = buildInMemory(rebuild, layout);
    std::set<std::size_t> allowed;
    const ImageEntry& changedEntry = *originalTree.entry(changed.path.substr(3));
    addBlocksOf(changedEntry.avatars, changedEntry.blockCount, allowed);
    const std::set<std::size_t> editedBlocks = differingBlocks(original.image, edited.image);
    EXPECT_TRUE(edited.status == 0 && !editedBlocks.empty() && std::includes(allowed.begin(), allowed.end(),
                                                                               editedBlocks.begin(), editedBlocks.end()));
    rebuild.setContent(changed.path, *changed.content);
    // A file that was empty, and so held no block, is placed anew once it has content.
    const auto empty = std::find_if(entries.begin(), entries.end(), [](const Entry& e) {
      return e.content && e.content->empty() && e.path.find('#') == std::string::npos;
    });
    if (empty != entries.end()) {
      rebuild.setContent(empty->path, "now");
      EXPECT_EQ(buildInMemory(rebuild, layout).status, 0) << empty->path;
      rebuild.setContent(empty->path, "");
    }

    // What the builder takes from the layout and never derives: another
    // type, label flags and comment come back in the rebuilt image's listing.
    std::string json = listing(original.image);
    json.replace(json.find(R"("volumeComment": "")"), 19, R"("volumeComment": "N\u00e9")");
    json.replace(json.find(R"("volumeFlags": 0)"), 16, R"("volumeFlags": 255)");
    json.replace(json.find(R"("type": ")", json.find(R"("kind": "file")")) + 9, 4, R"(T\u00ffP!)");
    rebuild.setContent("layout.json", json);
    const BuildRun retyped = buildInMemory(rebuild, layout);
    EXPECT_TRUE(retyped.status == 0 && listing(retyped.image) == json) << retyped.text;
    rebuild.setContent("layout.json", listing(original.image));

    // A new file: its blocks, its directory's and the label's block count
    // change, as long as its directory keeps its blocks.
    const std::string folder = *std::next(folders.begin(), static_cast<long>(rng() % folders.size()));
    rebuild.addFile(folder + "/new.bin", std::string(1 + rng() % 5000, 'n'));
    const BuildRun added = buildInMemory(rebuild, layout);
    MemoryImageFile addedFile(added.image);
    const ImageTree addedTree = readImage(addedFile, true);
    ASSERT_TRUE(added.status == 0 && addedTree.problemCount == 0) << added.text;
    const ImageEntry* newEntry = addedTree.entry(folder.substr(3) + "/new.bin");
    ASSERT_NE(newEntry, nullptr);
    std::set<std::size_t> allowedAdded = {0, 225};
    addBlocksOf(newEntry->avatars, newEntry->blockCount, allowedAdded);
    const auto folderIn = [&](const ImageTree& t) -> const ImageDirectory& {
      return t.directories[folder == "src" ? 0 : t.entry(folder.substr(3))->directory];
    };
    const ImageDirectory& dir = folderIn(addedTree);
    addBlocksOf(dir.avatars, dir.blockCount, allowedAdded);
    const std::set<std::size_t> addedBlocks = differingBlocks(original.image, added.image);
    if (dir.blockCount == folderIn(originalTree).blockCount) {
      EXPECT_TRUE(std::includes(allowedAdded.begin(), allowedAdded.end(), addedBlocks.begin(), addedBlocks.end()));
      EXPECT_TRUE(original.image.compare(0, 80, added.image, 0, 80) == 0 &&
                  original.image.compare(84, 1964, added.image, 84, 1964) == 0);  // all but the block count
    }
    LayoutDocument listed;
    readLayoutDocument(listing(original.image), listed);
    EXPECT_EQ(newEntry->id, listed.highestId() + 1);  // the ids of new entries go on from the highest
  }
}

}  // namespace
}  // namespace vornel
