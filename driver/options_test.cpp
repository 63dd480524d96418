#include "driver/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vornel {
namespace {

const std::string kUsage =
    "Usage:\n"
    "\tvornel.exe [options] -in <source directory> -out <output file> \n"
    "\n\tOptions:\n"
    "\t\t-vl <volume label>\n"
    "\t\t-ra <##> root avatars count\n"
    "\t\t-da <##> directory avatars count\n";

std::optional<BuildOptions> parse(std::vector<const char*> args, std::string* text) {
  args.insert(args.begin(), "vornel");
  StringConsole console;
  auto options = parseOptions(static_cast<int>(args.size()), args.data(), console);
  *text = console.text();
  return options;
}

TEST(OptionsTest, BadCommandLinesPrintTheirMessageAndUsage) {
  struct Case {
    std::vector<const char*> args;
    std::string text;
  };
  const std::string label32(32, 'L');
  const Case cases[] = {
      {{}, "Source directory not specified.\n\n" + kUsage},
      {{"-in", "src"}, "Output file not specified.\n\n" + kUsage},
      {{"-out", "x.iso"}, "Source directory not specified.\n\n" + kUsage},
      {{"-out", "x.iso", "-in"}, kUsage},
      {{"-in", "-out", "x.iso"}, "Output file not specified.\n\n" + kUsage},
      {{"-in", "s", "-out", "o", "-da", "0"}, "Error directory avatars count value.\n" + kUsage},
      {{"-in", "s", "-out", "o", "-da", "9"}, "Error directory avatars count value.\n" + kUsage},
      {{"-in", "s", "-out", "o", "-da", "abc"}, "Error directory avatars count value.\n" + kUsage},
      {{"-in", "s", "-out", "o", "-ra", "9"}, "Error root avatars count value.\n"},
      {{"-in", "s", "-out", "o", "-ra", "-1"}, "Error root avatars count value.\n"},
      {{"-in", "s", "-out", "o", "-ra", "99999999999999999999"}, "Error root avatars count value.\n"},
      {{"-in", "s", "-out", "o", "-vl", label32.c_str()}, "Volume label more then 32 symbols.\n\n"},
      // Options are checked as they come, before the missing ones are noticed.
      {{"-da", "0"}, "Error directory avatars count value.\n" + kUsage},
      {{"-in", "s", "-out", "o", "-mf"}, kUsage},
  };
  for (const Case& c : cases) {
    std::string text;
    EXPECT_FALSE(parse(c.args, &text).has_value()) << c.text;
    EXPECT_EQ(text, c.text);
  }
}

TEST(OptionsTest, GoodCommandLinesFillTheOptions) {
  std::string text;
  auto defaults = parse({"-in", "src", "-out", "x.iso"}, &text);
  ASSERT_TRUE(defaults.has_value());
  EXPECT_EQ(text, "");
  EXPECT_EQ(defaults->sourceDir, "src/");
  EXPECT_EQ(defaults->outputPath, "x.iso");
  EXPECT_EQ(defaults->volumeLabel, "CD_ROM");
  EXPECT_EQ(defaults->dirAvatars, 3);
  EXPECT_EQ(defaults->rootAvatars, 3);

  const std::string label31(31, 'L');
  auto options = parse({"-IN", "src/", "-Out", "a", "-x", "-mf", "-in", "-rd", "-out", "-s", "-out", "b", "-vl",
                        label31.c_str(), "-DA", "8", "-ra", "1x", "-in", ""},
                       &text);
  ASSERT_TRUE(options.has_value()) << text;
  // -mf and -rd consume the argument after them; -x and -s consume nothing.
  EXPECT_EQ(options->mfValue, "-in");
  EXPECT_EQ(options->rdValue, "-out");
  EXPECT_TRUE(options->sFlag);
  EXPECT_EQ(options->outputPath, "b");  // later options replace earlier ones
  EXPECT_EQ(options->sourceDir, "/");   // an empty value becomes the separator
  EXPECT_EQ(options->volumeLabel, label31);
  EXPECT_EQ(options->dirAvatars, 8);
  EXPECT_EQ(options->rootAvatars, 1);  // leading digits, as atoi reads them
}

}  // namespace
}  // namespace vornel
