// The image module on images built in memory: each damage named exactly, the
// bounds, the comparison with the source, and extraction.

#include <gtest/gtest.h>
#include <pthread.h>

#include <array>
#include <random>

#include "driver/test_build.h"
#include "image/image_compare.h"
#include "inspect/listing.h"
#include "platform/fake_image_host.h"
#include "platform/memory_chunks.h"

namespace vornel {

using namespace std::string_literals;
constexpr std::size_t kB = 2048;

static std::string be32(std::uint32_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }

// With -ra 2 -da 2: the label at 0 and 225, data.bin at 1 to 3, level1.map at
// 4, the root at 5 and 69 (entries: readme.txt at 168, data at 244), data at 6
// and 70, readme.txt at 300 and 500 as its placement file says.
static std::string knownImage(FakeFileSystem& fs) {
  fs.addFile("src/#readme.txt", "300 500");
  fs.addFile("src/data/data.bin", std::string(5000, 'd'));
  fs.addFile("src/data/level1.map", "level one!");
  fs.addFile("src/empty", "");
  fs.addFile("src/readme.txt", "Read me: a disc for the tests.");
  return buildInMemory(fs, {"-ra", "2", "-da", "2"}).image;
}

TEST(ImageTest, EachDamageIsNamedAndExtractionSkipsWhatItCannotWrite) {
  FakeFileSystem fs;
  const std::string known = knownImage(fs);
  FakeFileSystem two;  // B's entry in the root at block 1 will point at A's block 2; C takes two blocks
  two.addDirectory("src/A");
  two.addDirectory("src/B");
  for (int i = 0; i < 40; ++i) two.addFile("src/C/" + std::to_string(i), "");
  const std::string siblings = buildInMemory(two, {"-ra", "1", "-da", "1"}).image;
  // The build walks a chain of 2050 directories by recursion: its own thread
  // gives it room for the larger frames of a sanitized build too.
  std::string deep;
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, std::size_t{256} << 20);
  pthread_t thread;
  pthread_create(&thread, &attr, [](void* image) -> void* {
    FakeFileSystem nested;
    std::string path = "src";
    for (int i = 0; i < 2050; ++i, path += "/d") nested.addDirectory(path);
    const std::string bottom = path.substr(0, path.size() - 4);  // 2048 levels down: 200 files
    for (int i = 0; i < 200; ++i) nested.addFile(bottom + "/" + std::to_string(i), "");
    *static_cast<std::string*>(image) = buildInMemory(nested, {"-da", "1"}).image;
    return nullptr;
  }, &deep);
  pthread_join(thread, nullptr);
  std::string path;  // the directory 2049 levels down
  for (int i = 0; i < 2049; ++i) path += "/d";
  const struct {
    std::vector<std::size_t> blocks;
    std::size_t offset;
    std::string bytes;     // written at the offset in each block; empty: the byte's lowest bit flipped
    std::size_t count;     // problems in all
    std::string problems;  // whole lines among them
    std::vector<std::string> skipped = {};
    const std::string* image = nullptr;  // the known image when null
  } cases[] = {
      {{0}, 77, "", 2, "block 0, offset 76: the label's block size is 67584, not 2048\n"},
      {{0}, 140, "", 2, "block 0, offset 140: filler expected after the disc label, found 0x65\n"},
      {{225}, 41, "", 1, "block 225, offset 41: the label copies differ: 0x45 here, 0x44 in block 0\n"},
      {{5}, 11, "", 2, "block 5, offset 8: the block header's flags is 1, not 0\n"},
      {{5}, 195, "", 2, "block 5, offset 192: entry /readme.txt: burst is 0, not 1\n"},
      {{5}, 169, "", 2, "block 5, offset 168: entry /readme.txt: flags hold unknown bits\n"},
      {{6}, 1000, "", 2, "block 6, offset 1000: filler expected after the entries of directory /data, found 0x68\n"},
      {{70}, 30, "", 1, "block 70: copy 1 of directory /data differs from its copy at block 6\n"},
      {{500}, 3, "", 1, "block 500: copy 1 of file /readme.txt differs from its copy at block 300\n"},
      {{4}, 100, "", 1,
       "block 4, offset 100: filler expected after the last byte of file /data/level1.map, found 0x65\n"},
      {{0, 225}, 88, be32(0), 1, "block 0, offset 88: the root directory has 0 blocks\n"},
      {{0, 225}, 88, be32(0x7FFFFFFF), 14,
       "block 0, offset 100: directory /: avatar 5 of 2147483647 blocks lies outside the image of 501 blocks\n"},
      {{0, 225}, 96, be32(0x80000000), 3,
       "block 0, offset 96: the root's lastAvatar -2147483648 is outside 0 to 7\n"
       "block 0, offset 104: an unused root avatar slot is not 0\n"},
      {{0, 225}, 108, be32(7), 1, "block 0, offset 108: an unused root avatar slot is not 0\n"},
      {{0, 225}, 3, "", 1, "block 0: no disc label at block 0 or 225: not an image\n"},
      {{6, 70}, 0, be32(5) + be32(0), 2,
       "block 6, offset 0: nextBlock is 5, not -1\nblock 6, offset 4: prevBlock is 0, not -1\n"},
      {{6, 70}, 12, be32(0xFFFFFFF0), 5, "block 6, offset 12: firstFreeByte -16 is outside 20 to 2048\n"},
      {{5, 69}, 184, be32(0xFFFFFFFF) + be32(0x200000), 5,
       "block 5, offset 236: file /readme.txt: avatar 300 of 2097152 blocks lies outside the image of 501 blocks\n",
       {"/readme.txt: its first copy lies outside the image"}},
      {{5, 69}, 188, be32(2), 1, "block 5, offset 188: file /readme.txt: blockCount 2 does not hold 30 bytes\n"},
      {{5, 69}, 240, be32(5), 3,  // the second copy's field
       "block 5, offset 240: block 5 is claimed by both directory / and file /readme.txt\n"},
      {{5, 69}, 316, be32(0x80000000), 2,
       "block 5, offset 316: directory /data: avatar -2147483648 of 1 blocks lies outside the image of 501 blocks\n"},
      {{5, 69}, 260, be32(0xFFFFF800) + be32(0x7FFFFFFF), 7,
       "block 5, offset 260: directory /data: byteCount 4294965248 is not blockCount 2147483647 x 2048\n",
       {"/data: the directory could not be read"}},
      {{5, 69}, 276, "..\0\0"s, 1, "block 5, offset 276: entry /..: the name is \"..\"\n",
       {"/..: the name is \"..\""}},
      {{5, 69}, 276, "a/b\0"s, 1, "block 5, offset 276: entry /a/b: the name holds a \"/\"\n",
       {"/a/b: the name holds a \"/\""}},
      {{5, 69}, 276, "ReadMe.TXT", 1,
       "block 5, offset 276: entry /ReadMe.TXT: the disc cannot tell this name from another one of its directory\n",
       {"/ReadMe.TXT: the disc cannot tell it from an earlier name"}},
      {{5, 69}, 276, "EMPTY", 1,  // not next to the entry it repeats
       "block 5, offset 276: entry /EMPTY: the disc cannot tell this name from another one of its directory\n",
       {"/EMPTY: the disc cannot tell it from an earlier name"}},
      {{5, 69}, 232, be32(8), 10,
       "block 5, offset 168: the entry does not fit between its offset and firstFreeByte 320 (lastAvatar 8)\n"},
      {{5, 69}, 308, be32(2), 7,  // three avatars take 80 bytes; 76 are left
       "block 5, offset 244: the entry does not fit between its offset and firstFreeByte 320\n"},
      {{5, 69}, 308, be32(0x7FFFFFFF), 7,
       "block 5, offset 244: the entry does not fit between its offset and firstFreeByte 320 (lastAvatar "
       "2147483647)\n"},
      {{5, 69}, 312, be32(5) + be32(69), 9,
       "block 5, offset 312: block 5 is claimed by both directory / and directory /data: the directory contains "
       "itself or a parent\n"},
      {{1}, 236, be32(2), 3, "block 1, offset 236: block 2 is claimed by both directory /A and directory /B\n", {},
       &siblings},
      {{5}, 12, be32(20), 2, "block 5: the last block of directory /C holds no entry\n", {}, &siblings},
      // What a builder derives: the packing of entries into blocks, the
      // lastInBlock mark, the label entry, ids of their own from 1 up.
      {{5, 69}, 96, be32(0x40000002), 1,
       "block 5, offset 96: entry /empty: lastInBlock is set, but a second entry of its size fits after it\n"},
      {{5, 69}, 172, be32(13), 1, "block 5, offset 172: id 13 is the id of another record too\n"},
      {{5, 69}, 172, be32(11), 1, "block 6, offset 24: id 11 is the id of another record too\n"},  // read later
      {{5, 69}, 252, "*DIR", 1, "block 5, offset 252: /data: type is not *dir\n"},
      {{5, 69}, 100, be32(0), 1, "block 5, offset 100: id 0 is not 1 or more\n"},
      {{5, 69}, 52, "Disc Label", 1,
       "block 5, offset 20: the label entry does not describe blocks 0 and 225 (*lbl, \"Disc label\", 132 bytes, "
       "the root's id)\n"},
      {{4}, 12, be32(1964), 2, "block 5, offset 20: entry /C/34 opens a new block, but it fits after the last entry "
       "of the block before\n", {}, &siblings},
      {{}, 0, "", 3, "block 2059, offset 308: directory " + path + " lies deeper than 2048 levels: it is not read\n",
       {path + ": the directory could not be read"}, &deep},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.problems.substr(0, 200));
    std::string bytes = c.image ? *c.image : known;
    for (const std::size_t block : c.blocks) {
      if (c.bytes.empty()) bytes[block * kB + c.offset] ^= 1;
      else bytes.replace(block * kB + c.offset, c.bytes.size(), c.bytes);
    }
    MemoryImageFile image(bytes);
    const ImageTree tree = readImage(image, true);
    std::string text = "\n";
    for (const ImageProblem& p : tree.problems) text += describe(p) + "\n";
    EXPECT_EQ(tree.problemCount, c.count);
    EXPECT_NE(text.find("\n" + c.problems), std::string::npos) << text.substr(0, 2000);
    FakeImageHost host;
    std::string error;
    EXPECT_EQ(extractImage(tree, image, *host.openExtractRoot("out", error)).skipped, c.skipped);
  }
  // Any byte changed in a block of the label, a directory, the end of a file
  // or the filler is found; file data with one copy can change without a trace.
  std::mt19937 random(11);
  for (int i = 0; i < 400; ++i) {
    const std::size_t at = std::array{0, 3, 4, 5, 6, 69, 70, 200, 225, 300, 500}[random() % 11] * kB + random() % kB;
    if ((at >= 1 * kB && at < 1 * kB + 5000) || (at >= 4 * kB && at < 4 * kB + 10)) continue;
    std::string bytes = known;
    bytes[at] = static_cast<char>(bytes[at] ^ (1 + random() % 255));
    MemoryImageFile image(bytes);
    EXPECT_GT(readImage(image, true).problemCount, 0u) << "byte " << at;
  }
  // The deep chain's listings go out line by line: over 4 MB of text each,
  // counted and never held.
  struct Counting : Console {
    void print(std::string_view text) override { bytes += text.size(), peak = std::max(peak, heapBytesInUse()); }
    void error(std::string_view) override {}
    std::size_t bytes = 0, start = heapBytesInUse(), peak = start;
  };
  MemoryImageFile chain(deep);
  const ImageTree tree = readImage(chain, false);
  for (const auto list : {listText, listJson}) {
    Counting console;
    list(tree, console);
    EXPECT_LT(console.peak - console.start, std::size_t{1} << 20) << console.bytes << " bytes of text";
  }
}

TEST(ImageTest, CompareNamesEachDifference) {
  FakeFileSystem fs;
  std::string bytes = knownImage(fs);
  bytes[500 * kB + 3] ^= 1;
  fs.setContent("src/data/data.bin", std::string(4999, 'd') + "e");
  fs.remove("src/data/level1.map");
  fs.addFile("src/data/new", "");
  fs.addDirectory("src/more");
  fs.remove("src/empty");
  fs.addDirectory("src/empty");
  // Placement files as a build takes them: the first of a name counts.
  fs.setContent("src/#readme.txt", "300 501");
  fs.addFile("src/data/#README.TXT", "300 500");
  fs.addFile("src/data/#data.bin", "1");
  MemoryImageFile image(bytes);
  const ImageTree tree = readImage(image, false);
  EXPECT_EQ(compareWithTree(fs, "src", tree, image),
            (std::vector<std::string>{"kind differs: /empty is a file in the image, a directory in the source",
                                      "content differs: /readme.txt at avatar 500, byte 3 (block 500)",
                                      "only in the source: /more",
                                      "content differs: /data/data.bin at avatar 1, byte 4999 (block 3)",
                                      "only in the image: /data/level1.map", "only in the source: /data/new",
                                      "placement differs: /readme.txt is at 300,500 in the image, src/#readme.txt "
                                      "asks for 300,501"}));
  fs.setContent("src/readme.txt", std::string(31, 'r'));
  fs.failListing.insert("src/data");
  std::vector<std::string> second = {"kind differs: /empty is a file in the image, a directory in the source",
                                     "size differs: /readme.txt has 30 bytes in the image, 31 in the source",
                                     "only in the source: /more", "cannot read the source directory src/data",
                                     "placement differs: /readme.txt is at 300,500 in the image, src/#readme.txt "
                                     "asks for 300,501"};
  EXPECT_EQ(compareWithTree(fs, "src", tree, image), second);
  fs.setContent("src/readme.txt", std::string(30, 'r'));
  fs.failOpen.insert("src/readme.txt");
  second[1] = "cannot read the source file src/readme.txt";
  EXPECT_EQ(compareWithTree(fs, "src", tree, image), second);
}

TEST(ImageTest, ExtractionWritesTheFirstCopyOfEveryFile) {
  // A file of several reads, placed so that it ends where the image ends, and
  // a directory after it to be entered from the root.
  FakeFileSystem fs;
  const FakeImageHost::Tree want = {
      {"a/", ""}, {"a/big", std::string(300 * kB - 1, 'b') + "!"}, {"z/", ""}, {"z/e", ""}};
  for (const auto& [path, content] : want) if (!path.ends_with('/')) fs.addFile("src/" + path, content);
  fs.addFile("src/a/#big", "400");
  MemoryImageFile image(buildInMemory(fs).image);
  EXPECT_EQ(image.size(), 700 * kB);
  const ImageTree tree = readImage(image, true);
  EXPECT_EQ(compareWithTree(fs, "src", tree, image), std::vector<std::string>{});
  FakeImageHost host;
  std::string error;
  extractImage(tree, image, *host.openExtractRoot("out", error));
  EXPECT_EQ(host.extracted["out"], want);
  // A write that fails mid-file leaves nothing under the file's name.
  host.failWrite.insert("a/big");
  const ExtractResult full = extractImage(tree, image, *host.openExtractRoot("full", error));
  EXPECT_EQ(full.skipped, std::vector<std::string>{"/a/big: cannot write file: No space left on device"});
  EXPECT_EQ(host.extracted["full"], (FakeImageHost::Tree{{"a/", ""}, {"z/", ""}, {"z/e", ""}}));
}

}  // namespace vornel
