// vornel-inspect in-process: each command line's exit status, standard
// output and standard error, exactly.

#include "inspect/inspect.h"

#include <gtest/gtest.h>

#include "image/test_image.h"
#include "platform/fake_image_host.h"

namespace vornel {
namespace {

using Outcome = std::tuple<int, std::string, std::string>;  // exit status, standard output, standard error

TEST(InspectTest, EachCommandLineGivesItsStatusAndOutput) {
  FakeFileSystem fs;
  FakeImageHost host;
  const auto inspect = [&](std::vector<const char*> args) {
    args.insert(args.begin(), "vornel-inspect");
    InspectOutput output;
    const int status = runInspect(static_cast<int>(args.size()), args.data(), host, fs, output);
    return Outcome{status, output.out, output.err};
  };
  const std::string known = knownImage(fs);
  FakeFileSystem oddTree;
  oddTree.addDirectory("src");
  oddTree.addFile("src/q\"b\\\x01\n\x7f\xff.\xe9", "x");
  host.addImage("known.iso", known);
  host.addImage("odd.iso", buildImage(oddTree, {}) + known.substr(200 * 2048, 2048));
  host.addImage("longer.iso", known + known.substr(200 * 2048, 2048));
  host.addImage("flipped.iso", known.substr(0, 200 * 2048 + 9) + "x" + known.substr(200 * 2048 + 10));
  host.addImage("zeros.iso", std::string(4096, '\0'));
  host.addImage("short.iso", "CD");
  const std::string oddProblem = "block 0, offset 80: blockCount 226 does not match the image length of 464896 bytes";
  const std::string usage =
      "usage: vornel-inspect [--json | --check] IMAGE\n"
      "       vornel-inspect --compare DIR IMAGE\n"
      "       vornel-inspect --extract DIR IMAGE\n";
  const struct {
    std::vector<const char*> args;
    Outcome outcome;
  } cases[] = {
      {{"known.iso"},
       {0,
        "volume label: CD_ROM\nblock count: 501\nroot avatars: 5 69\n"
        "directory \"*dir\"       2048       1 5,69            /\n"
        "file      \"    \"          0       0 -1              /empty\n"
        "file      \"txt \"         30       1 300,500         /readme.txt\n"
        "directory \"*dir\"       2048       1 6,70            /data\n"
        "file      \"bin \"       5000       3 1               /data/data.bin\n"
        "file      \"map \"         10       1 4               /data/level1.map\n"
        "2 directories, 4 files, 12 blocks used, 1026048 image bytes\n",
        ""}},
      {{"--json", "odd.iso"},
       {1,
        "{\n  \"label\": {\"volumeLabel\": \"CD_ROM\", \"blockCount\": 226, \"rootAvatars\": [2, 66, 130]},\n"
        "  \"entries\": [\n"
        "    {\"path\": \"/\", \"kind\": \"directory\", \"type\": \"*dir\", \"byteCount\": 2048, \"blockCount\": 1, "
        "\"avatars\": [2, 66, 130]},\n"
        "    {\"path\": \"/q\\\"b\\\\\\u0001\\u000a\\u007f\\u00ff.\\u00e9\", \"kind\": \"file\", \"type\": \"\\u00e9   \", "
        "\"byteCount\": 1, \"blockCount\": 1, \"avatars\": [1]}\n  ],\n"
        "  \"summary\": {\"directories\": 1, \"files\": 1, \"blocksUsed\": 6, \"imageBytes\": 464896},\n"
        "  \"problems\": [\n    \"" + oddProblem + "\"\n  ]\n}\n",
        "vornel-inspect: odd.iso: " + oddProblem + "\n"}},
      {{"odd.iso"},
       {1,
        "volume label: CD_ROM\nblock count: 226\nroot avatars: 2 66 130\n"
        "directory \"*dir\"       2048       1 2,66,130        /\n"
        "file      \"\\xE9   \"          1       1 1               /q\"b\\x5C\\x01\\x0A\\x7F\\xFF.\\xE9\n"
        "1 directories, 1 files, 6 blocks used, 464896 image bytes\n",
        "vornel-inspect: odd.iso: " + oddProblem + "\n"}},
      {{"--check", "known.iso"}, {0, "image is sound\n", ""}},
      {{"--check", "flipped.iso"},
       {1, "block 200, offset 9: filler expected in a block that nothing owns, found 0x78\n1 problem\n", ""}},
      {{"--check", "longer.iso"},
       {1,
        "block 0, offset 80: blockCount 501 does not match the image length of 1028096 bytes\n"
        "block 501: the image goes on past its last block in use\n2 problems\n",
        ""}},
      {{"--compare", "src/", "known.iso"}, {0, "same\n", ""}},
      {{"--compare", "src", "longer.iso"},
       {1, "image problem: block 0, offset 80: blockCount 501 does not match the image length of 1028096 bytes\n", ""}},
      {{"--extract", "out", "known.iso"}, {0, "extracted 1 directories and 4 files to out\n", ""}},
      {{"--extract", "out", "known.iso"}, {2, "", "vornel-inspect: out is not empty\n"}},
      {{"--extract", "odd", "odd.iso"},
       {1, "extracted 0 directories and 1 files to odd\n", "vornel-inspect: odd.iso: " + oddProblem + "\n"}},
      {{"--help"}, {0, usage, ""}},
      {{}, {2, "", "vornel-inspect: expected one image\n" + usage}},
      {{"a.iso", "b.iso"}, {2, "", "vornel-inspect: expected one image\n" + usage}},
      {{"--list", "known.iso"}, {2, "", "vornel-inspect: unknown option --list\n" + usage}},
      {{"--compare", "known.iso"}, {2, "", "vornel-inspect: expected a folder and an image\n" + usage}},
      {{"missing.iso"}, {2, "", "vornel-inspect: cannot open missing.iso: No such file or directory\n"}},
      {{"--check", "zeros.iso"},
       {2, "",
        "vornel-inspect: zeros.iso: block 225: the image ends before the label copy at block 225\n"
        "vornel-inspect: zeros.iso: block 0: no disc label at block 0 or 225: not an image\n"}},
      {{"short.iso"}, {2, "", "vornel-inspect: short.iso: image: the file is shorter than one block: not an image\n"}},
      {{"--compare", "nowhere", "known.iso"}, {2, "", "vornel-inspect: nowhere is not a directory\n"}},
  };
  for (const auto& c : cases) EXPECT_EQ(inspect(c.args), c.outcome) << c.args.size();
  host.failCreate("empty");
  EXPECT_EQ(inspect({"--extract", "again", "known.iso"}),
            (Outcome{1, "extracted 1 directories and 3 files to again\n", "vornel-inspect: skipped /empty: cannot create empty\n"}));
  host.addImage("noisy.iso", known + std::string(1100 * 2048, 'x'));
  EXPECT_TRUE(std::get<1>(inspect({"--check", "noisy.iso"})).ends_with("\nand 102 more problems\n1102 problems\n"));
}

}  // namespace
}  // namespace vornel
