// The image module on images built in memory: each damage named exactly,
// the bounds, the comparison with the source, and extraction.

#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "format/bytes.h"
#include "image/image_compare.h"
#include "image/test_image.h"
#include "platform/fake_image_host.h"

namespace vornel {
namespace {

using namespace std::string_literals;
constexpr std::size_t kB = 2048;

std::string be32(std::uint32_t value) {
  std::string bytes(4, '\0');
  storeBE32(reinterpret_cast<std::uint8_t*>(bytes.data()), value);
  return bytes;
}

std::string joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

std::string problemText(const std::vector<ImageProblem>& problems) {
  std::string text;
  for (const ImageProblem& p : problems) text += describe(p) + "\n";
  return text;
}

ExtractResult extract(const std::string& bytes, FakeImageHost& host, const std::string& root = "out") {
  MemoryImageFile image(bytes);
  std::string error;
  return extractImage(readImage(image, false), image, *host.openExtractRoot(root, error));
}

TEST(ImageTest, EachDamageIsNamedAndExtractionSkipsWhatItCannotWrite) {
  FakeFileSystem fs;
  const std::string known = knownImage(fs);
  struct Case {
    std::vector<std::size_t> blocks;
    std::size_t offset;
    std::string bytes;  // written at the offset in each block; empty: the byte's lowest bit flipped
    std::size_t count;  // problems in all
    std::string problems;  // whole lines among them
    std::string skipped = "";
  };
  const Case cases[] = {
      {{0}, 77, "", 2, "block 0, offset 76: the label's block size is 67584, not 2048\n"},
      {{0}, 140, "", 2, "block 0, offset 140: filler expected after the disc label, found 0x65\n"},
      {{225}, 41, "", 1, "block 225, offset 41: the label copies differ: 0x45 here, 0x44 in block 0\n"},
      {{5}, 11, "", 2, "block 5, offset 8: the block header's flags is 1, not 0\n"},
      {{5}, 195, "", 2, "block 5, offset 192: entry /readme.txt: burst is 0, not 1\n"},
      {{5}, 169, "", 2, "block 5, offset 168: entry /readme.txt: flags hold unknown bits\n"},
      {{6}, 1000, "", 2, "block 6, offset 1000: filler expected after the entries of directory /data, found 0x68\n"},
      {{70}, 30, "", 1, "block 70: copy 1 of directory /data differs from its copy at block 6\n"},
      {{500}, 3, "", 1, "block 500: copy 1 of file /readme.txt differs from its copy at block 300\n"},
      {{4}, 100, "", 1, "block 4, offset 100: filler expected after the last byte of file /data/level1.map, found 0x65\n"},
      {{200}, 9, "", 1, "block 200, offset 9: filler expected in a block that nothing owns, found 0x60\n"},
      {{0, 225}, 88, be32(0x7FFFFFFF), 14,
       "block 0, offset 100: directory /: avatar 5 of 2147483647 blocks lies outside the image of 501 blocks\n"},
      {{0, 225}, 88, be32(0), 1, "block 0, offset 88: the root directory has 0 blocks\n"},
      {{0, 225}, 92, be32(1), 1, "block 0, offset 92: the root's block size is 1, not 2048\n"},
      {{0, 225}, 96, be32(0x80000000), 3, "block 0, offset 96: the root's lastAvatar -2147483648 is outside 0 to 7\n"},
      {{0, 225}, 128, be32(1), 1, "block 0, offset 128: an unused root avatar slot is not 0\n"},
      {{0, 225}, 100, be32(9999) + be32(9999), 14, "block 0: directory / has no copy that can be read\n"},
      {{6, 70}, 0, be32(5), 1, "block 6, offset 0: nextBlock is 5, not -1\n"},
      {{6, 70}, 4, be32(0), 1, "block 6, offset 4: prevBlock is 0, not -1\n"},
      {{6, 70}, 12, be32(0xFFFFFFF0), 5, "block 6, offset 12: firstFreeByte -16 is outside 20 to 2048\n"},
      {{6, 70}, 16, be32(24), 1, "block 6, offset 16: firstEntryOffset is 24, not 20\n"},
      {{5, 69}, 23, "\x02", 3, "block 5, offset 20: the root's first entry is not the label entry\n"},
      {{5, 69}, 24, be32(12345), 1,
       "block 5, offset 20: the label entry does not describe blocks 0 and 225 (*lbl, 132 bytes, the root's id)\n"},
      {{5, 69}, 99, "\x06", 1, "block 5, offset 96: entry /empty: a label entry that is not the root's first entry\n"},
      {{5, 69}, 168, "\x80", 1, "block 5, offset 168: entry /readme.txt: marked last in its directory, but entries follow\n"},
      {{5, 69}, 180, be32(1), 1, "block 5, offset 180: entry /readme.txt: blockSize is 1, not 2048\n"},
      {{5, 69}, 184, be32(0xFFFFFFFF) + be32(0x200000), 5,
       "block 5, offset 236: file /readme.txt: avatar 300 of 2097152 blocks lies outside the image of 501 blocks\n"
       "block 5, offset 240: file /readme.txt: avatar 500 of 2097152 blocks lies outside the image of 501 blocks\n"
       "block 300, offset 0: filler expected in a block that nothing owns, found 0x52\n"
       "block 500, offset 0: filler expected in a block that nothing owns, found 0x52\n"
       "block 226: the image goes on past its last block in use\n",
       "/readme.txt: its first copy lies outside the image\n"},
      {{5, 69}, 188, be32(2), 1, "block 5, offset 188: file /readme.txt: blockCount 2 does not hold 30 bytes\n"},
      {{5, 69}, 196, be32(1), 1, "block 5, offset 196: entry /readme.txt: gap is 1, not 0\n"},
      {{5, 69}, 236, be32(0x80000000), 2,
       "block 5, offset 236: file /readme.txt: avatar -2147483648 of 1 blocks lies outside the image of 501 blocks\n",
       "/readme.txt: its first copy lies outside the image\n"},
      {{5, 69}, 244, "\0"s, 1,
       "block 5, offset 244: entry /data: the last entry of the directory is not marked last (0xC0000000)\n"},
      {{5, 69}, 247, "\x03", 7, "block 5, offset 247: entry /data: kind 3 is none of 2 (file), 6 (label), 7 (directory)\n",
       "/data: neither a file nor a directory\n"},
      {{5, 69}, 252, "*dur", 1, "block 5, offset 252: /data: type is not *dir\n"},
      {{5, 69}, 260, be32(0xFFFFF800) + be32(0x7FFFFFFF), 7,
       "block 5, offset 260: directory /data: byteCount 4294965248 is not blockCount 2147483647 x 2048\n",
       "/data: the directory could not be read\n"},
      {{5, 69}, 276, "..\0\0"s, 1, "block 5, offset 276: entry /..: the name is \"..\"\n", "/..: the name is \"..\"\n"},
      {{5, 69}, 276, "a/b\0"s, 1, "block 5, offset 276: entry /a/b: the name holds a \"/\"\n", "/a/b: the name holds a \"/\"\n"},
      {{5, 69}, 276, "\0\0\0\0"s, 1, "block 5, offset 276: entry /: the name is empty\n", "/: the name is empty\n"},
      {{5, 69}, 276, "ReadMe.TXT", 1,
       "block 5, offset 276: entry /ReadMe.TXT: the disc cannot tell this name from another one of its directory\n",
       "/ReadMe.TXT: the disc cannot tell it from an earlier name\n"},
      {{5, 69}, 308, be32(0x7FFFFFFF), 7,
       "block 5, offset 244: the entry does not fit between its offset and firstFreeByte 320 (lastAvatar 2147483647)\n"},
      {{5, 69}, 312, be32(5) + be32(69), 9,
       "block 5, offset 312: block 5 is claimed by both directory / and directory /data: the directory contains "
       "itself or a parent\n"},
      {{5, 69}, 316, be32(6), 2,
       "block 5, offset 316: block 6 is claimed by both directory /data and directory /data: two copies of the "
       "directory overlap\n"},
      {{5, 69}, 312, be32(300), 2, "block 5, offset 312: block 300 is claimed by both file /readme.txt and directory /data\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.problems);
    std::string bytes = known;
    for (const std::size_t block : c.blocks) {
      if (c.bytes.empty()) bytes[block * kB + c.offset] ^= 1;
      else bytes.replace(block * kB + c.offset, c.bytes.size(), c.bytes);
    }
    MemoryImageFile image(bytes);
    const ImageTree tree = readImage(image, true);
    EXPECT_EQ(tree.problemCount, c.count);
    EXPECT_NE(("\n" + problemText(tree.problems)).find("\n" + c.problems), std::string::npos) << problemText(tree.problems);
    FakeImageHost host;
    EXPECT_EQ(joined(extract(bytes, host).skipped), c.skipped);
  }
  // File data with one copy can change without a trace; every other byte is
  // a label field, a copy of something, or filler.
  std::mt19937 random(11);
  for (int i = 0; i < 400; ++i) {
    const std::size_t at = random() % known.size();
    if ((at >= 1 * kB && at < 1 * kB + 5000) || (at >= 4 * kB && at < 4 * kB + 10)) continue;
    std::string bytes = known;
    bytes[at] = static_cast<char>(bytes[at] ^ (1 + random() % 255));
    MemoryImageFile image(bytes);
    EXPECT_GT(readImage(image, true).problemCount, 0u) << "byte " << at;
  }
}

TEST(ImageTest, ProblemsDepthAndClaimsStayBounded) {
  FakeFileSystem fs;
  MemoryImageFile noisy(knownImage(fs) + std::string(1100 * kB, 'x'));
  const ImageTree tree = readImage(noisy, true);
  EXPECT_EQ(tree.problems.size(), kMaxProblems);
  EXPECT_EQ(tree.problemCount, 1102u);

  FakeFileSystem deep;
  std::string path;
  for (int i = 0; i < 2050; ++i, path += "/d") deep.addDirectory("src" + path);
  MemoryImageFile image(buildImage(deep, {"-da", "1"}));
  const ImageTree d = readImage(image, true);
  EXPECT_EQ(d.directories.size(), 2049u);
  ASSERT_EQ(d.problemCount, 3u);
  EXPECT_EQ(describe(d.problems[0]),
            "block 2052, offset 20: directory " + path.substr(2) + " lies deeper than 2048 levels: it is not read");

  // Siblings on the same blocks: B's entry in the root points at A's block.
  FakeFileSystem two;
  two.addDirectory("src/A");
  two.addDirectory("src/B");
  MemoryImageFile siblings(buildImage(two, {"-ra", "1", "-da", "1"}).replace(1 * kB + 236, 4, be32(2)));
  EXPECT_EQ(problemText(checkImage(siblings)),
            "block 1, offset 236: block 2 is claimed by both directory /A and directory /B\n"
            "block 1: directory /B has no copy that can be read\n"
            "block 3, offset 0: filler expected in a block that nothing owns, found 0xFF\n");
}

TEST(ImageTest, GeneratedTreesReadBackSoundTheSameAndWhole) {
  for (unsigned seed = 1; seed <= 4; ++seed) {
    std::mt19937 random(seed);
    FakeFileSystem fs;
    fs.addDirectory("src");
    FakeImageHost::Tree want;
    std::vector<std::string> dirs{""};
    for (int i = 0; i < 30; ++i) {
      const std::string path = dirs[random() % dirs.size()] + (i % 2 ? "n" : "N") + std::to_string(i);
      if (random() % 4 == 0) {
        fs.addDirectory("src/" + path);
        dirs.push_back(path + "/");
        want[path + "/"];
      } else {
        std::string content(i == 0 ? 600000 : random() % 6000, '\0');
        for (char& c : content) c = static_cast<char>(random());
        fs.addFile("src/" + path, content);
        want[path] = content;
      }
    }
    const std::string copies = std::to_string(1 + seed % 3);
    MemoryImageFile image(buildImage(fs, {"-ra", copies, "-da", copies}));
    EXPECT_EQ(problemText(checkImage(image)), "");
    EXPECT_EQ(joined(compareWithTree(fs, "src", image)), "");
    FakeImageHost host;
    std::string error;
    const ExtractResult result = extractImage(readImage(image, false), image, *host.openExtractRoot("out", error));
    EXPECT_EQ(host.extracted("out"), want);
    EXPECT_EQ(result.directories, dirs.size() - 1);
    EXPECT_EQ(result.files, want.size() - dirs.size() + 1);
  }
}

TEST(ImageTest, CompareNamesEachDifference) {
  const struct {
    std::function<void(FakeFileSystem&, std::string&)> change;
    std::string differences;
  } cases[] = {
      {[](auto& fs, auto&) { fs.addFile("src/#x", "9"); }, ""},
      {[](auto& fs, auto&) { fs.setContent("src/data/data.bin", std::string(4999, 'd') + "e"); },
       "content differs: /data/data.bin at avatar 1, byte 4999 (block 3)\n"},
      {[](auto&, auto& image) { image[500 * kB + 3] ^= 1; },
       "content differs: /readme.txt at avatar 500, byte 3 (block 500)\n"},
      {[](auto&, auto& image) { image[70 * kB + 30] ^= 1; },
       "image problem: block 70: copy 1 of directory /data differs from its copy at block 6\n"},
      {[](auto&, auto& image) {
         for (const std::size_t block : {5, 69}) image.replace(block * kB + 240, 4, be32(9999));
       },
       "image problem: block 5, offset 240: file /readme.txt: avatar 9999 of 1 blocks lies outside the image of 501 "
       "blocks\ncontent differs: /readme.txt has its avatar 9999 outside the image\n"},
      {[](auto& fs, auto&) { fs.remove("src/data/level1.map"); }, "only in the image: /data/level1.map\n"},
      {[](auto& fs, auto&) {
         fs.addFile("src/data/new", "");
         fs.addDirectory("src/more");
       },
       "only in the source: /more\nonly in the source: /data/new\n"},
      {[](auto& fs, auto&) {
         fs.remove("src/empty");
         fs.addDirectory("src/empty");
       },
       "kind differs: /empty is a file in the image, a directory in the source\n"},
      {[](auto& fs, auto&) {
         fs.remove("src/data");
         fs.addOther("src/data");
       },
       "kind differs: /data is a directory in the image, neither a file nor a directory in the source\n"},
      {[](auto& fs, auto&) { fs.setContent("src/readme.txt", std::string(31, 'r')); },
       "size differs: /readme.txt has 30 bytes in the image, 31 in the source\n"},
      {[](auto& fs, auto&) { fs.failListing("src/data"); }, "cannot read the source directory src/data\n"},
      {[](auto& fs, auto&) { fs.failOpen("src/readme.txt"); }, "cannot read the source file src/readme.txt\n"},
      {[](auto& fs, auto&) { fs.failReadAfter("src/data/data.bin", 100); },
       "cannot read the source file src/data/data.bin\n"},
  };
  for (const auto& c : cases) {
    FakeFileSystem fs;
    std::string bytes = knownImage(fs);
    c.change(fs, bytes);
    MemoryImageFile image(bytes);
    EXPECT_EQ(joined(compareWithTree(fs, "src", image)), c.differences);
  }
  // A copy that ends where the image ends lies inside it.
  FakeFileSystem fs;
  MemoryImageFile image(knownImage(fs, std::string(kB, 'r')));
  EXPECT_EQ(image.size(), 501 * kB);
  EXPECT_EQ(joined(compareWithTree(fs, "src", image)), "");
  // What cannot be created is skipped with its subtree, and the walk goes on.
  FakeImageHost host;
  host.failCreate("data");
  host.failCreate("empty");
  FakeFileSystem other;
  const ExtractResult result = extract(knownImage(other), host);
  EXPECT_EQ(joined(result.skipped), "/empty: cannot create empty\n/data: cannot create data\n");
  EXPECT_EQ(host.extracted("out"), (FakeImageHost::Tree{{"readme.txt", "Read me: a disc for the tests."}}));
}

}  // namespace
}  // namespace vornel
