// The reader on images built by vornel and then damaged: every single byte
// changed outside file data is reported, hostile values are refused without
// a crash or a runaway, and the number of problems kept is bounded.

#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "format/bytes.h"
#include "image/image_compare.h"
#include "image/image_reader.h"
#include "image/test_image.h"
#include "platform/fake_image_host.h"

namespace vornel {
namespace {

constexpr std::size_t kBlock = 2048;
// Where the known tree lies (test_image.h): the root's blocks, data's
// blocks, and inside the root block the entries of readme.txt and data.
constexpr std::size_t kRootCopies[] = {5, 69};
constexpr std::size_t kDataCopies[] = {6, 70};
constexpr std::size_t kReadmeEntry = 168;
constexpr std::size_t kDataEntry = 244;

std::string knownImage() {
  FakeFileSystem fs;
  addKnownTree(fs);
  return buildImage(fs, kKnownOptions);
}

void put32(std::string& image, std::size_t at, std::uint32_t value) {
  storeBE32(reinterpret_cast<std::uint8_t*>(image.data() + at), value);
}

// Writes the same value into the same place of every copy of a directory,
// so that the copies still agree and the value itself is what is read.
void putInCopies(std::string& image, const std::size_t (&copies)[2], std::size_t offset, std::uint32_t value) {
  for (const std::size_t block : copies) put32(image, block * kBlock + offset, value);
}

std::string problemsOf(const ImageTree& tree) {
  std::string text;
  for (const ImageProblem& p : tree.problems) text += describe(p) + "\n";
  return text;
}

TEST(ImageReaderTest, HostileValuesAreReportedAndNothingIsWrittenOutsideTheTarget) {
  struct Case {
    const char* name;
    std::function<void(std::string&)> damage;
    const char* problem;
  };
  const auto rename = [](const char* name) {
    return [name](std::string& image) {
      for (const std::size_t block : kRootCopies) {
        char* field = image.data() + block * kBlock + kDataEntry + entry::kName;
        std::memset(field, 0, entry::kNameSize);
        std::memcpy(field, name, std::strlen(name));
      }
    };
  };
  const Case cases[] = {
      {"a name ..", rename(".."), "entry /..: the name is \"..\""},
      {"a name with /", rename("a/b"), "entry /a/b: the name holds a \"/\""},
      {"a name the disc cannot tell from another", rename("ReadMe.TXT"),
       "entry /ReadMe.TXT: the disc cannot tell this name from another one of its directory"},
      {"a directory that points at its own directory",
       [](std::string& image) {
         putInCopies(image, kRootCopies, kDataEntry + entry::kAvatars, 5);
         putInCopies(image, kRootCopies, kDataEntry + entry::kAvatars + 4, 69);
       },
       "is claimed by both directory / and directory /data: the directory contains itself or a parent"},
      {"lastAvatar 2^31 - 1",
       [](std::string& image) { putInCopies(image, kRootCopies, kDataEntry + entry::kLastAvatar, 0x7FFFFFFF); },
       "block 5, offset 244: the entry does not fit between its offset and firstFreeByte 320 (lastAvatar 2147483647)"},
      {"a directory of 2^31 - 1 blocks",
       [](std::string& image) {
         putInCopies(image, kRootCopies, kDataEntry + entry::kBlockCount, 0x7FFFFFFF);
         putInCopies(image, kRootCopies, kDataEntry + entry::kByteCount, 0xFFFFF800);
       },
       "directory /data: byteCount 4294965248 is not blockCount 2147483647 x 2048"},
      {"a file of 4 GiB - 1 bytes",
       [](std::string& image) {
         putInCopies(image, kRootCopies, kReadmeEntry + entry::kByteCount, 0xFFFFFFFF);
         putInCopies(image, kRootCopies, kReadmeEntry + entry::kBlockCount, 0x200000);
       },
       "file /readme.txt: avatar 300 of 2097152 blocks lies outside the image of 501 blocks"},
      {"a negative avatar",
       [](std::string& image) { putInCopies(image, kRootCopies, kReadmeEntry + entry::kAvatars, 0x80000000); },
       "file /readme.txt: avatar -2147483648 of 1 blocks lies outside the image"},
      {"firstFreeByte past the block",
       [](std::string& image) { putInCopies(image, kDataCopies, header::kFirstFreeByte, 0xFFFFFFF0); },
       "block 6, offset 12: firstFreeByte -16 is outside 20 to 2048"},
      {"a root of 2^31 - 1 blocks",
       [](std::string& image) {
         put32(image, label::kRootDirBlocks, 0x7FFFFFFF);
         put32(image, 225 * kBlock + label::kRootDirBlocks, 0x7FFFFFFF);
       },
       "directory /: avatar 5 of 2147483647 blocks lies outside the image"},
      {"a root lastAvatar of -2^31",
       [](std::string& image) {
         put32(image, label::kRootDirLastAvatar, 0x80000000);
         put32(image, 225 * kBlock + label::kRootDirLastAvatar, 0x80000000);
       },
       "block 0, offset 96: the root's lastAvatar -2147483648 is outside 0 to 7"},
  };
  const std::string sound = knownImage();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string bytes = sound;
    c.damage(bytes);
    MemoryImageFile image(bytes);
    const ImageTree tree = readImage(image, true);
    EXPECT_NE(problemsOf(tree).find(c.problem), std::string::npos) << problemsOf(tree);
    FakeImageHost host;
    std::string error;
    const auto target = host.openExtractRoot("out", error);
    const ExtractResult result = extractImage(tree, image, *target);
    EXPECT_FALSE(result.aborted);
    for (const auto& [path, content] : host.extracted("out").files) {
      EXPECT_TRUE(path == "empty" || path == "readme.txt" || path.starts_with("data/")) << path;
    }
    for (const std::string& dir : host.extracted("out").directories) EXPECT_TRUE(dir == "" || dir == "data") << dir;
  }
}

TEST(ImageReaderTest, EverySingleByteChangeOutsideFileDataIsReported) {
  // File data of a file with one copy can change without a trace; every
  // other byte is a label field, a copy of something, or filler.
  const std::string sound = knownImage();
  const auto isFileData = [](std::size_t at) {
    return (at >= 1 * kBlock && at < 1 * kBlock + 5000) || (at >= 4 * kBlock && at < 4 * kBlock + 10);
  };
  std::mt19937 random(11);
  for (int i = 0; i < 400; ++i) {
    const std::size_t at = random() % sound.size();
    if (isFileData(at)) continue;
    std::string bytes = sound;
    bytes[at] = static_cast<char>(bytes[at] ^ (1 + random() % 255));
    MemoryImageFile image(bytes);
    EXPECT_GT(readImage(image, true).problemCount, 0u) << "byte " << at << " of block " << at / kBlock;
  }
}

TEST(ImageReaderTest, ProblemsKeptAreBoundedAndAllCounted) {
  FakeFileSystem fs;
  addKnownTree(fs);
  fs.setContent("src/#readme.txt", "3000");
  std::string bytes = buildImage(fs, kKnownOptions);
  // Blocks 226 to 2999 own nothing: one problem each.
  std::fill(bytes.begin() + 226 * kBlock, bytes.begin() + 3000 * kBlock, 'x');
  MemoryImageFile image(bytes);
  const ImageTree tree = readImage(image, true);
  EXPECT_EQ(tree.problems.size(), kMaxProblems);
  EXPECT_EQ(tree.problemCount, 3000u - 226u);
}

TEST(ImageReaderTest, DirectoriesDeeperThanAnyHostPathAreNotEntered) {
  FakeFileSystem fs;
  std::string path = "src";
  for (int depth = 0; depth <= 2049; ++depth) {
    fs.addDirectory(path);
    path += "/d";
  }
  MemoryImageFile image(buildImage(fs, {"-da", "1"}));
  const ImageTree tree = readImage(image, true);
  EXPECT_EQ(tree.directories.size(), 2049u);
  // The last directory's block is then one that nothing owns.
  ASSERT_EQ(tree.problemCount, 3u);
  EXPECT_NE(tree.problems[0].what.find("lies deeper than 2048 levels: it is not read"), std::string::npos);
}

TEST(ImageReaderTest, TwoSiblingDirectoriesOnTheSameBlocksAreNamedAsSuch) {
  FakeFileSystem fs;
  fs.addDirectory("src/A");
  fs.addDirectory("src/B");
  std::string bytes = buildImage(fs, {"-ra", "1", "-da", "1"});
  MemoryImageFile sound(bytes);
  const ImageTree tree = readImage(sound, true);
  ASSERT_EQ(tree.directories.size(), 3u);
  // B's entry in the root now points at A's block.
  const ImageEntry& b = tree.directories[0].entries.back();
  const std::int32_t blockOfA = tree.directories[0].entries[1].avatars[0];
  put32(bytes, static_cast<std::size_t>(b.block) * kBlock + static_cast<std::size_t>(b.offset) + entry::kAvatars,
        static_cast<std::uint32_t>(blockOfA));
  MemoryImageFile damaged(bytes);
  const std::string problems = problemsOf(readImage(damaged, true));
  EXPECT_NE(problems.find("is claimed by both directory /A and directory /B"), std::string::npos) << problems;
  EXPECT_EQ(problems.find("contains itself"), std::string::npos) << problems;
}

TEST(ImageReaderTest, FilesThatAreNotImages) {
  for (const std::string& bytes : {std::string(100, 'x'), std::string(300 * kBlock, '\0')}) {
    MemoryImageFile image(bytes);
    const ImageTree tree = readImage(image, true);
    EXPECT_FALSE(tree.usable);
    EXPECT_EQ(tree.problemCount, 1u);
  }
}

}  // namespace
}  // namespace vornel
