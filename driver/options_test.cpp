#include "platform/fake_console.h"
#include "driver/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vornel {
namespace {

CommandLine parse(std::vector<const char*> args, std::string* text) {
  args.insert(args.begin(), "vornel");
  StringConsole console;
  CommandLine result = parseOptions(static_cast<int>(args.size()), args.data(), console);
  *text = console.text();
  return result;
}

TEST(OptionsTest, GoodCommandLinesFillTheOptions) {
  std::string text;
  const CommandLine defaults = parse({"-in", "src", "-out", "x.iso"}, &text);
  ASSERT_EQ(defaults.action, CommandLine::Action::Build);
  EXPECT_EQ(text, "");
  EXPECT_EQ(defaults.options.sourceDir, "src/");
  EXPECT_EQ(defaults.options.outputPath, "x.iso");
  EXPECT_EQ(defaults.options.volumeLabel, "CD_ROM");
  EXPECT_EQ(defaults.options.dirAvatars, 3);
  EXPECT_EQ(defaults.options.rootAvatars, 3);
  EXPECT_EQ(defaults.options.order, EntryOrder::Name);

  const std::string label31(31, 'L');
  const CommandLine parsed =
      parse({"-IN", "src/", "-Out", "a", "-x", "-mf", "-in", "-rd", "-out", "-s", "-out", "b", "-vl", label31.c_str(),
             "-DA", "8", "-ra", "1x", "-in", "", "-ORDER", "Disk"},
            &text);
  ASSERT_EQ(parsed.action, CommandLine::Action::Build) << text;
  const BuildOptions& options = parsed.options;
  // -mf and -rd consume the argument after them; -x and -s consume nothing.
  EXPECT_EQ(options.mfValue, "-in");
  EXPECT_EQ(options.rdValue, "-out");
  EXPECT_TRUE(options.sFlag);
  EXPECT_EQ(options.outputPath, "b");     // later options replace earlier ones
  EXPECT_EQ(options.sourceDir, "src/");  // an empty value replaces nothing
  EXPECT_EQ(options.volumeLabel, label31);
  EXPECT_EQ(options.dirAvatars, 8);
  EXPECT_EQ(options.rootAvatars, 1);  // leading digits, as atoi reads them
  EXPECT_EQ(options.order, EntryOrder::Disk);
}

}  // namespace
}  // namespace vornel
