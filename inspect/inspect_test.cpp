// vornel-inspect in-process: each command line's exit status, output and errors.

#include "inspect/inspect.h"

#include <gtest/gtest.h>

#include "driver/test_build.h"
#include "platform/fake_image_host.h"

namespace vornel {

using Outcome = std::tuple<int, std::string, std::string>;  // exit status, standard output, standard error

// Both streams in memory; standard output is lost, as on a full device, past
// `room` bytes.
class TestConsole : public CheckedConsole {
 public:
  void print(std::string_view text) override { strings.print(text); }
  void error(std::string_view text) override { strings.error(text); }
  bool finish(std::string& reason) override {
    reason = "No space left on device";
    return strings.text().size() <= room;
  }
  StringConsole strings;
  std::size_t room = SIZE_MAX;
};

TEST(InspectTest, EachCommandLineGivesItsStatusAndOutput) {
  FakeFileSystem fs;
  for (const char* root : {"src", "s"}) fs.addFile(root + std::string("/d/q\"b\\\x01\n\x7f\xff.\xe9"), "x");
  const std::string image = buildInMemory(fs).image;
  FakeImageHost host;
  host.images = {{"image", image},
                 {"longer", image + image.substr(200 * 2048, 2048)},
                 {"flipped", image.substr(0, 200 * 2048 + 9) + "x" + image.substr(200 * 2048 + 10)},
                 {"noisy", image + std::string(1100 * 2048, 'x')},
                 {"zeros", std::string(226 * 2048, '\0')},
                 {"short", "CD"},
                 {"cut", image.substr(0, 225 * 2048)}};
  const auto inspect = [&](std::vector<const char*> args, std::size_t room = SIZE_MAX) {
    args.insert(args.begin(), "vornel-inspect");
    TestConsole console;
    console.room = room;
    const int status = runInspect(static_cast<int>(args.size()), args.data(), host, fs, console);
    return Outcome{status, console.strings.text(), console.strings.errors()};
  };
  const std::string longer = "block 0, offset 80: blockCount 226 does not match the image length of 464896 bytes";
  const std::string usage = std::get<1>(inspect({"--help"}));
  EXPECT_TRUE(usage.starts_with("usage: vornel-inspect [--json | --check] IMAGE\n")) << usage;
  const struct {
    std::vector<const char*> args;
    Outcome outcome;
  } cases[] = {
      {{"longer"},
       {1, "volume label: CD_ROM\nblock count: 226\nroot avatars: 2 66 130\n"
           "directory \"*dir\"       2048       1 2,66,130        /\n"
           "directory \"*dir\"       2048       1 3,67,131        /d\n"
           "file      \"\\xE9   \"          1       1 1               /d/q\"b\\x5C\\x01\\x0A\\x7F\\xFF.\\xE9\n"
           "2 directories, 1 files, 9 blocks used, 464896 image bytes\n",
        "vornel-inspect: longer: " + longer + "\n"}},
      {{"--json", "longer"},
       {1, "{\n  \"label\": {\"volumeLabel\": \"CD_ROM\", \"volumeComment\": \"\", \"volumeFlags\": 0, "
           "\"volumeId\": 11, \"rootId\": 2, \"blockCount\": 226, \"rootAvatars\": [2, 66, 130]},\n"
           "  \"entries\": [\n    {\"path\": \"/\", \"kind\": \"directory\", \"id\": 2, \"type\": \"*dir\", "
           "\"byteCount\": 2048, \"blockCount\": 1, \"avatars\": [2, 66, 130]},\n    {\"path\": \"/d\", \"kind\": "
           "\"directory\", \"id\": 9, \"type\": \"*dir\", \"byteCount\": 2048, \"blockCount\": 1, \"avatars\": "
           "[3, 67, 131]},\n    {\"path\": \"/d/q\\\"b\\\\\\u0001\\u000a\\u007f\\u00ff.\\u00e9\", \"kind\": \"file\", "
           "\"id\": 10, \"type\": \"\\u00e9   \", "
           "\"byteCount\": 1, \"blockCount\": 1, \"avatars\": [1]}\n  ],\n  \"summary\": {\"directories\": 2, "
           "\"files\": 1, \"blocksUsed\": 9, \"imageBytes\": 464896},\n  \"problems\": [\n    \"" +
               longer + "\"\n  ]\n}\n",
        "vornel-inspect: longer: " + longer + "\n"}},
      {{"--check", "image"}, {0, "image is sound\n", ""}},
      {{"--check", "cut"},  // ends just before the label's copy
       {1, "block 225: the image ends before the label copy at block 225\nblock 0, offset 80: blockCount 226 "
           "does not match the image length of 460800 bytes\nblock 132: the image goes on past its last block in "
           "use\n3 problems\n", ""}},
      {{"--check", "flipped"},
       {1, "block 200, offset 9: filler expected in a block that nothing owns, found 0x78\n1 problem\n", ""}},
      {{"--check", "longer"},
       {1, longer + "\nblock 226: the image goes on past its last block in use\n2 problems\n", ""}},
      {{"--compare", "src/", "image"}, {0, "same\n", ""}},
      {{"--compare", "s//", "image"}, {0, "same\n", ""}},
      {{"--compare", "src", "longer"}, {1, "image problem: " + longer + "\n", ""}},
      {{"--extract", "out", "image"}, {0, "extracted 1 directories and 1 files to out\n", ""}},
      {{"--extract", "out", "image"}, {2, "", "vornel-inspect: out is not empty\n"}},
      {{"--extract", "other", "longer"},
       {1, "extracted 1 directories and 1 files to other\n", "vornel-inspect: longer: " + longer + "\n"}},
      {{"--help"}, {0, usage, ""}},
      {{"--version", "image"}, {0, "vornel-inspect 1.0\n", ""}},
      {{}, {2, "", "vornel-inspect: expected one image\n" + usage}},
      {{"a", "b"}, {2, "", "vornel-inspect: expected one image\n" + usage}},
      {{"--list", "image"}, {2, "", "vornel-inspect: unknown option --list\n" + usage}},
      {{"--compare", "image"}, {2, "", "vornel-inspect: expected a folder and an image\n" + usage}},
      {{"missing"}, {2, "", "vornel-inspect: cannot open missing: No such file or directory\n"}},
      {{"--check", "zeros"},
       {2, "", "vornel-inspect: zeros: block 0: no disc label at block 0 or 225: not an image\n"}},
      {{"short"}, {2, "", "vornel-inspect: short: image: the file is shorter than one block: not an image\n"}},
      {{"--compare", "nowhere", "image"}, {2, "", "vornel-inspect: nowhere is not a directory\n"}},
  };
  for (const auto& c : cases) EXPECT_EQ(inspect(c.args), c.outcome);
  EXPECT_TRUE(std::get<1>(inspect({"--check", "noisy"})).ends_with("\nand 102 more problems\n1102 problems\n"));
  host.failCreate.insert("d");
  EXPECT_EQ(inspect({"--extract", "again", "image"}),
            (Outcome{1, "extracted 0 directories and 0 files to again\n",
                     "vornel-inspect: skipped /d: cannot create d\n"}));
  // Output lost, as on a full device: every mode fails.
  const std::string lost = "vornel-inspect: cannot write the output: No space left on device\n";
  for (const auto& args : std::vector<std::vector<const char*>>{
           {"image"}, {"--json", "image"}, {"--check", "image"}, {"--compare", "src", "image"},
           {"--extract", "full", "image"}, {"--help"}, {"--version"}}) {
    const auto [status, out, err] = inspect(args, 0);
    EXPECT_TRUE(status == 2 && err.ends_with(lost)) << args[0];
  }
}

}  // namespace vornel
