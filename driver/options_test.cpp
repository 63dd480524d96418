#include "driver/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vornel {
namespace {

std::optional<BuildOptions> parse(std::vector<const char*> args, std::string* text) {
  args.insert(args.begin(), "vornel");
  StringConsole console;
  auto options = parseOptions(static_cast<int>(args.size()), args.data(), console);
  *text = console.text();
  return options;
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
