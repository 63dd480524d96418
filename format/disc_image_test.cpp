// The image of a tree that holds every kind of record and layout, pinned
// byte for byte.

#include <gtest/gtest.h>

#include "driver/test_build.h"
#include "image/image_compare.h"
#include "platform/fake_image_host.h"

namespace vornel {
namespace {

using namespace std::string_literals;

std::uint64_t fnv1a(const std::string& bytes) {
  std::uint64_t hash = 0xcbf29ce484222325;
  for (unsigned char c : bytes) hash = (hash ^ c) * 0x100000001b3;
  return hash;
}

// The system files at their fixed blocks, placed files (an empty one too),
// the label's volume name, a directory of more than 64 blocks, nested
// folders, names of 31 and 32 bytes and of every kind of character, files
// around the block size: the image is the one this tree has always given,
// byte for byte.
TEST(DiscImageTest, ARichTreeGivesTheImageItAlwaysGave) {
  FakeFileSystem fs;
  // Of the placement files, "#BOOT_CODE" cannot replace a fixed record;
  // "#README2" counts, not "#readme2" after it in name order, and of the two
  // for intro.str only A's is even opened; only 1023 bytes of "#long" are
  // read; "#empty2", empty, places nothing. readme3 leaves one free block,
  // 601, between itself and readme2: the filler must stop short of it.
  const std::pair<std::string, std::string> files[] = {
      {"rom_tags", std::string(1000, 't')}, {"BannerScreen", "banner"}, {"sys/BOOT_CODE", std::string(4 * 2048, 'b')},
      {"sys/os_code", std::string(64 * 2048 - 5, 'o')}, {"sys/misc_code", std::string(2049, 'm')},
      {"#readme.txt", "300 500\n"}, {"readme.txt", "Read me."}, {"exact", std::string(2048, 'e')}, {"empty", ""},
      {"#empty.fixed", "330 331"}, {"empty.fixed", ""}, {"#BOOT_CODE", "500"}, {"#readme2", "610"},
      {"#README2", "600"}, {"readme2", "r"}, {"#readme3", "602"}, {"readme3", "3"},
      {"#long", std::string(1020, ' ') + "62012345"}, {"long", "l"},
      {"A/#Intro.str", "630"}, {"B/#intro.STR", "640"}, {"intro.str", "i"}, {"#empty2", ""}, {"empty2", ""}};
  for (const auto& [path, content] : files) fs.addFile("src/" + path, content);
  fs.failOpen.insert("src/B/#intro.STR");
  for (const char* name : {"a name of 31 bytes: the longest", "a name of 32 bytes: the longest!", "~", "_x", "z", "a0",
                           "B", "\xE9t\xE9", "archive.tar.gz", "clip.MPEG2", ".profile"}) {
    fs.addFile(std::string("src/names/") + name, name);
  }
  // Nested folders, and a second boot_code, met after sys's by the
  // siblings-first walk: it goes first-fit like any file.
  for (const char* path : {"src/A/A1/boot_code", "src/A/a", "src/B/B2/y", "src/B/B1/x", "src/C/z"}) {
    fs.addFile(path, path);
  }
  for (int i = 0; i < 2000; ++i) fs.addFile("src/many/" + std::to_string(i) + std::string(25, 'n'), "");
  const BuildRun run = buildInMemory(fs, {"-vl", "GOLDEN"});
  ASSERT_EQ(run.status, 0) << run.text;
  EXPECT_EQ(run.text, "\nvornel 1.0 - disc image builder\n\nNow parsing source directory - Done.\nDisc label avatars "
                      "placed successfully.\nSystem files avatars placed successfully.\nOther files avatars placed "
                      "successfully.\nFile system created successfully.\nNow write ISO image to output file - " +
                          std::string(2040, '.') + "Done.\n");
  MemoryImageFile file(run.image);
  const ImageTree tree = readImage(file, true);
  EXPECT_EQ(compareWithTree(fs, "src", tree, file), std::vector<std::string>{});
  const std::pair<const char*, std::vector<std::int32_t>> fixed[] = {
      {"/rom_tags", {1, 226}},  {"/BannerScreen", {227}},    {"/sys/BOOT_CODE", {2}},     {"/sys/os_code", {6}},
      {"/sys/misc_code", {70}}, {"/readme.txt", {300, 500}}, {"/empty.fixed", {330, 331}},
      {"/readme2", {600}}, {"/readme3", {602}}, {"/long", {620}}, {"/intro.str", {630}}, {"/empty2", {-1}}};
  for (const auto& [path, avatars] : fixed) EXPECT_EQ(tree.entry(path)->avatars, avatars) << path;
  // A type is up to four characters after the last full stop.
  for (const auto& [name, type] : {std::pair{"archive.tar.gz", "gz  "}, {"clip.MPEG2", "MPEG"}, {".profile", "    "}}) {
    EXPECT_EQ(std::string(tree.entry("/names/"s + name)->type.data(), 4), type) << name;
  }
  EXPECT_EQ(tree.label.rootAvatars.size(), 3u);
  EXPECT_NE(tree.entry("/A/A1/boot_code")->avatars[0], 2);
  EXPECT_EQ(tree.entry("/many")->avatars[1] - tree.entry("/many")->avatars[0], 128);
  EXPECT_EQ(fnv1a(run.image), 3232429144817638184u) << "the image changed: if that is intended, take the new digest";
  // The host's order, taken as it comes, gives another image.
  EXPECT_EQ(fnv1a(buildInMemory(fs, {"-vl", "GOLDEN", "-order", "disk"}).image), 5039810695040844420u);
  // Written in block order, as to a pipe, it is the same image with the same
  // text: the dots come in another order, but one per directory and file.
  fs.pipeOutput = true;
  const BuildRun inOrder = buildInMemory(fs, {"-vl", "GOLDEN"});
  EXPECT_TRUE(inOrder.status == 0 && inOrder.text == run.text && inOrder.image == run.image);
  EXPECT_EQ(run.errors + inOrder.errors, "");
}

// The volume id is the one number stored least significant byte first; the
// trees above hold too few entries to fill its upper bytes.
TEST(DiscImageTest, TheVolumeIdIsLittleEndian) {
  std::uint8_t at[4];
  storeLE32(at, 0x04030201);
  EXPECT_EQ(std::string(at, at + 4), "\x01\x02\x03\x04");
}

}  // namespace
}  // namespace vornel
