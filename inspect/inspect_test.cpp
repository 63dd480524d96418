// vornel-inspect in-process: the exact listing of a known tree, JSON that
// stays valid whatever the names hold, each damaged region named by the
// check with exit status 1, and exit status 2 when the job cannot be done.

#include "inspect/inspect.h"

#include <gtest/gtest.h>

#include "image/test_image.h"
#include "platform/fake_image_host.h"

namespace vornel {
namespace {

struct Inspected {
  int status;
  InspectOutput output;
};

class InspectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    addKnownTree(fs_);
    known_ = buildImage(fs_, kKnownOptions);
    host_.addImage("known.iso", known_);
  }

  Inspected inspect(std::vector<std::string> args) {
    std::vector<const char*> argv{"vornel-inspect"};
    for (const auto& a : args) argv.push_back(a.c_str());
    Inspected run;
    run.status = runInspect(static_cast<int>(argv.size()), argv.data(), host_, fs_, run.output);
    return run;
  }

  FakeFileSystem fs_;
  FakeImageHost host_;
  std::string known_;
};

TEST_F(InspectTest, ListingOfAKnownTreeIsExact) {
  const Inspected text = inspect({"known.iso"});
  EXPECT_EQ(text.status, 0) << text.output.err;
  EXPECT_EQ(text.output.out,
            "volume label: CD_ROM\n"
            "block count: 501\n"
            "root avatars: 5 69\n"
            "directory \"*dir\"       2048       1 5,69            /\n"
            "file      \"    \"          0       0 -1              /empty\n"
            "file      \"txt \"         30       1 300,500         /readme.txt\n"
            "directory \"*dir\"       2048       1 6,70            /data\n"
            "file      \"bin \"       5000       3 1               /data/data.bin\n"
            "file      \"map \"         10       1 4               /data/level1.map\n"
            "2 directories, 4 files, 12 blocks used, 1026048 image bytes\n");
  const Inspected json = inspect({"--json", "known.iso"});
  EXPECT_EQ(json.status, 0);
  EXPECT_EQ(
      json.output.out,
      "{\n"
      "  \"label\": {\"volumeLabel\": \"CD_ROM\", \"blockCount\": 501, \"rootAvatars\": [5, 69]},\n"
      "  \"entries\": [\n"
      "    {\"path\": \"/\", \"kind\": \"directory\", \"type\": \"*dir\", \"byteCount\": 2048, \"blockCount\": 1, "
      "\"avatars\": [5, 69]},\n"
      "    {\"path\": \"/empty\", \"kind\": \"file\", \"type\": \"    \", \"byteCount\": 0, \"blockCount\": 0, "
      "\"avatars\": [-1]},\n"
      "    {\"path\": \"/readme.txt\", \"kind\": \"file\", \"type\": \"txt \", \"byteCount\": 30, \"blockCount\": 1, "
      "\"avatars\": [300, 500]},\n"
      "    {\"path\": \"/data\", \"kind\": \"directory\", \"type\": \"*dir\", \"byteCount\": 2048, \"blockCount\": 1, "
      "\"avatars\": [6, 70]},\n"
      "    {\"path\": \"/data/data.bin\", \"kind\": \"file\", \"type\": \"bin \", \"byteCount\": 5000, "
      "\"blockCount\": 3, \"avatars\": [1]},\n"
      "    {\"path\": \"/data/level1.map\", \"kind\": \"file\", \"type\": \"map \", \"byteCount\": 10, "
      "\"blockCount\": 1, \"avatars\": [4]}\n"
      "  ],\n"
      "  \"summary\": {\"directories\": 2, \"files\": 4, \"blocksUsed\": 12, \"imageBytes\": 1026048},\n"
      "  \"problems\": [\n"
      "  ]\n"
      "}\n");
}

TEST_F(InspectTest, NamesOfAnyBytesStayOnOneLineAndInValidJson) {
  FakeFileSystem fs;
  fs.addDirectory("src");
  fs.addFile(std::string("src/q\"b\\\x01\n\x7f\xff.\xe9"), "x");
  host_.addImage("odd.iso", buildImage(fs, {}));
  const Inspected json = inspect({"--json", "odd.iso"});
  EXPECT_NE(json.output.out.find("\"path\": \"/q\\\"b\\\\\\u0001\\u000a\\u007f\\u00ff.\\u00e9\", \"kind\": \"file\", "
                                 "\"type\": \"\\u00e9   \""),
            std::string::npos)
      << json.output.out;
  const Inspected text = inspect({"odd.iso"});
  EXPECT_NE(text.output.out.find(" /q\"b\\x5C\\x01\\x0A\\x7F\\xFF.\\xE9\n"), std::string::npos) << text.output.out;
  for (const std::string& out : {json.output.out, text.output.out}) {
    for (const char c : out) EXPECT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7F)) << static_cast<int>(c);
  }
}

TEST_F(InspectTest, CheckNamesEachDamagedRegion) {
  struct Case {
    const char* region;
    std::size_t block;
    std::size_t offset;
    const char* problem;
  };
  const Case cases[] = {
      {"label field", 0, 77, "block 0, offset 76: the label's block size is 67584, not 2048"},
      {"label filler", 0, 140, "block 0, offset 140: filler expected after the disc label"},
      {"label copy", 225, 41, "block 225, offset 41: the label copies differ: 0x45 here, 0x44 in block 0"},
      {"block header", 5, 11, "block 5, offset 8: the block header's flags is 1, not 0"},
      {"entry", 5, 168 + 27, "block 5, offset 192: entry /readme.txt: burst is 0, not 1"},
      {"entry flags", 5, 168 + 1, "block 5, offset 168: entry /readme.txt: flags hold unknown bits"},
      {"directory filler", 6, 1000, "block 6, offset 1000: filler expected after the entries of directory /data"},
      {"directory copy", 70, 30, "block 70: copy 1 of directory /data differs from its copy at block 6"},
      {"file data copy", 500, 3, "block 500: copy 1 of file /readme.txt differs from its copy at block 300"},
      {"file filler", 4, 100, "block 4, offset 100: filler expected after the last byte of file /data/level1.map"},
      {"unowned block", 200, 9, "block 200, offset 9: filler expected in a block that nothing owns"},
  };
  const Inspected sound = inspect({"--check", "known.iso"});
  EXPECT_EQ(sound.status, 0);
  EXPECT_EQ(sound.output.out, "image is sound\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.region);
    std::string bytes = known_;
    bytes[c.block * 2048 + c.offset] ^= 1;
    host_.addImage("damaged.iso", bytes);
    const Inspected run = inspect({"--check", "damaged.iso"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.out.find(c.problem), std::string::npos) << run.output.out;
    EXPECT_TRUE(run.output.out.ends_with(" problem\n") || run.output.out.ends_with(" problems\n"));
  }
  host_.addImage("longer.iso", known_ + known_.substr(200 * 2048, 2048));
  EXPECT_EQ(inspect({"--check", "longer.iso"}).output.out,
            "block 0, offset 80: blockCount 501 does not match the image length of 1028096 bytes\n"
            "block 501: the image goes on past its last block in use\n"
            "2 problems\n");
}

TEST_F(InspectTest, CompareAndExtractExitStatuses) {
  EXPECT_EQ(inspect({"--compare", "src", "known.iso"}).output.out, "same\n");
  fs_.addFile("src/extra", "");
  const Inspected differs = inspect({"--compare", "src/", "known.iso"});
  EXPECT_EQ(differs.status, 1);
  EXPECT_EQ(differs.output.out, "only in the source: /extra\n");

  const Inspected extracted = inspect({"--extract", "out", "known.iso"});
  EXPECT_EQ(extracted.status, 0) << extracted.output.err;
  EXPECT_EQ(extracted.output.out, "extracted 1 directories and 4 files to out\n");
  EXPECT_EQ(host_.extracted("out").files.size(), 4u);
  host_.failCreate("readme.txt");
  const Inspected skipped = inspect({"--extract", "again", "known.iso"});
  EXPECT_EQ(skipped.status, 1);
  EXPECT_EQ(skipped.output.err, "vornel-inspect: skipped /readme.txt: cannot create readme.txt\n");
}

TEST_F(InspectTest, StatusTwoWhenTheJobCannotBeDone) {
  host_.addImage("zeros.iso", std::string(4096, '\0'));
  host_.addImage("short.iso", "CD");
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{}, "vornel-inspect: expected one image\n"},
      {{"--list", "known.iso"}, "vornel-inspect: unknown option --list\n"},
      {{"--compare", "known.iso"}, "vornel-inspect: expected a folder and an image\n"},
      {{"a.iso", "b.iso"}, "vornel-inspect: expected one image\n"},
      {{"missing.iso"}, "vornel-inspect: cannot open missing.iso: No such file or directory\n"},
      {{"--check", "zeros.iso"}, "vornel-inspect: zeros.iso: block 0: no disc label at block 0 or 225: not an image\n"},
      {{"short.iso"}, "vornel-inspect: short.iso: image: the file is shorter than one block: not an image\n"},
      {{"--compare", "nowhere", "known.iso"}, "vornel-inspect: nowhere is not a directory\n"},
      {{"--extract", "out", "known.iso"}, "vornel-inspect: out is not empty\n"},
  };
  inspect({"--extract", "out", "known.iso"});
  for (const auto& c : cases) {
    const Inspected run = inspect(c.args);
    EXPECT_EQ(run.status, 2) << c.message;
    EXPECT_NE(run.output.err.find(c.message), std::string::npos) << run.output.err;
    EXPECT_EQ(run.output.out, "");
  }
  const Inspected help = inspect({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(help.output.out.starts_with("usage: vornel-inspect"));
}

}  // namespace
}  // namespace vornel
