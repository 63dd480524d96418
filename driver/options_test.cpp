#include "driver/options.h"

#include <gtest/gtest.h>

#include "driver/test_build.h"

namespace vornel {
namespace {

const std::string kUsage =
    "Usage:\n"
    "\tvornel [options] -in <source directory> -out <output file> \n"
    "\n\tOptions:\n"
    "\t\t-vl <volume label>\n"
    "\t\t-ra <##> root avatars count\n"
    "\t\t-da <##> directory avatars count\n"
    "\t\t-order <name|disk> directory entry order\n";

// Command lines that end before anything is built: exit status and text.
TEST(OptionsTest, UsageErrorsExitWith255AndHelpWithZero) {
  struct Case {
    std::vector<std::string> args;
    std::string out;
    int status = 255;
  };
  const Case cases[] = {
      {{"--help"}, kUsage, 0},
      {{"-in", "s", "-out", "o", "-HELP", "-da", "0"}, kUsage, 0},              // nothing is built
      {{"-da", "9", "-h"}, "Error directory avatars count value.\n" + kUsage},  // the first one met decides
      {{"-vl", "x", "--Version", "-h"}, "", 0},
      {{"-in", "-h", "-out", "o", "-version"}, "", 0},  // "-h" is the value of -in
      {{"-in", "-h"}, "Output file not specified.\n\n" + kUsage},
      {{"-in", "", "-out", "o"}, "Source directory not specified.\n\n" + kUsage},
      {{"-in", "s", "-out", "o", "-order", "size"}, kUsage},
      {{"-in", "s", "-out", "o", "-order"}, kUsage},
      {{}, "Source directory not specified.\n\n" + kUsage},
      {{"-in"}, kUsage},
      {{"-in", "-out", "x.iso"}, "Output file not specified.\n\n" + kUsage},
      {{"-in", "s", "-out", "o", "-mf"}, kUsage},
      {{"-in", "s", "-out", "o", "-da", "0"}, "Error directory avatars count value.\n" + kUsage},
      {{"-in", "s", "-out", "o", "-da", "abc"}, "Error directory avatars count value.\n" + kUsage},
      {{"-da", "9"}, "Error directory avatars count value.\n" + kUsage},  // checked before missing ones
      {{"-in", "s", "-out", "o", "-ra", "9"}, "Error root avatars count value.\n"},
      {{"-in", "s", "-out", "o", "-ra", "99999999999999999999"}, "Error root avatars count value.\n"},
      {{"-in", "s", "-out", "o", "-vl", std::string(32, 'v')}, "Volume label more then 32 symbols.\n\n"},
      // Accepted: names in any case; -mf and -rd take the argument after
      // them, -x and -s none; later options replace earlier ones, but an
      // empty -in replaces nothing; a count is read as atoi reads it; the
      // source directory gets its "/".
      {{"-IN", "nowhere", "-Out", "a", "-x", "-mf", "-in", "-rd", "-out", "-s", "-out", "b", "-vl", std::string(31, 'L'),
        "-DA", "8", "-ra", "1x", "-in", "", "-ORDER", "Disk"},
       "Now parsing source directory - Error read directory nowhere/\n"},
  };
  for (const Case& c : cases) {
    std::vector<const char*> argv = {"vornel"};
    for (const auto& arg : c.args) argv.push_back(arg.c_str());
    FakeFileSystem fs;
    StringConsole console;
    EXPECT_EQ(runMain(static_cast<int>(argv.size()), argv.data(), fs, console), c.status) << c.out;
    EXPECT_EQ(console.text(), "\nvornel 1.0 - disc image builder\n\n" + c.out);
    EXPECT_FALSE(fs.outputCreated());
  }
}

}  // namespace
}  // namespace vornel
