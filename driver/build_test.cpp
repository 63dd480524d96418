#include "driver/build.h"

#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

#include "platform/fake_file_system.h"

namespace vornel {
namespace {

const std::string kScanned = "\nvornel 1.0 - disc image builder\n\nNow parsing source directory - Done.\n";
const std::string kLabelPlaced = "Disc label avatars placed successfully.\n";
const std::string kSystemPlaced = "System files avatars placed successfully.\n";
const std::string kOthersPlaced = "Other files avatars placed successfully.\n";

// A file system whose allocations fail once the scan starts.
class OutOfMemoryFileSystem : public FakeFileSystem {
 public:
  bool listDirectory(const std::string&, std::vector<std::string>&) override { throw std::bad_alloc(); }
};

int build(FileSystem& fs, StringConsole& console, std::vector<const char*> extra = {}) {
  std::vector<const char*> argv = {"vornel", "-in", "src", "-out", "out.iso"};
  argv.insert(argv.end(), extra.begin(), extra.end());
  return runMain(static_cast<int>(argv.size()), argv.data(), fs, console);
}

TEST(BuildTest, ALayoutFailureEndsTheBuildBeforeTheOutputExists) {
  constexpr std::uint64_t kBlock = 2048;
  struct Case {
    const char* name;
    std::function<void(FakeFileSystem&)> setup;
    std::string text;
    std::vector<const char*> options = {};
  };
  const Case cases[] = {
      {"placement file without numbers",
       [](FakeFileSystem& fs) {
         fs.addFile("src/x", "x");
         fs.addFile("src/#x", "none");
       },
       kScanned + kLabelPlaced + "Error avatar placement in file #x, avatar: #-1\n"},
      {"placement too large for 32 bits",
       [](FakeFileSystem& fs) {
         fs.addFile("src/x", "x");
         fs.addFile("src/#x", "4294967297");
       },
       kScanned + kLabelPlaced + "Error avatar placement in file #x, avatar: #4294967297\n"},
      {"placement number of 20 digits, shown as written",
       [](FakeFileSystem& fs) {
         fs.addFile("src/x", "x");
         fs.addFile("src/#x", "00099999999999999999");
       },
       kScanned + kLabelPlaced + "Error avatar placement in file #x, avatar: #00099999999999999999\n"},
      {"file larger than the free space",
       [](FakeFileSystem& fs) {
         fs.addFile("src/big", "");
         fs.reportSize("src/big", 329775 * kBlock);
       },
       kScanned + kLabelPlaced + kSystemPlaced + "Error place file big in free blocks pool.\n"},
      {"no room left for the root",
       [](FakeFileSystem& fs) {
         fs.addFile("src/low", "");
         fs.reportSize("src/low", 224 * kBlock);
         fs.addFile("src/high", "");
         fs.reportSize("src/high", 329774 * kBlock);
       },
       kScanned + kLabelPlaced + kSystemPlaced + kOthersPlaced +
           "Error place (stage 2) directory src/ in free blocks pool.\n",
       {"-ra", "1"}},
  };
  for (const Case& c : cases) {
    FakeFileSystem fs;
    StringConsole console;
    c.setup(fs);
    EXPECT_EQ(build(fs, console, c.options), 255) << c.name;
    EXPECT_EQ(console.text(), c.text) << c.name;
    EXPECT_FALSE(fs.outputCreated()) << c.name;
  }
}

TEST(BuildTest, NameOrderGivesTheSameImageWhateverTheHostsOrder) {
  const std::vector<std::pair<std::string, std::string>> entries = {
      {"src/Readme.txt", "read me"}, {"src/data/level2.map", std::string(3000, '2')},
      {"src/data/Level1.map", "1"},  {"src/#intro.str", "300"},
      {"src/music/intro.str", "intro"}, {"src/_boot", ""},
      {"src/a/b/c", "deep"},         {"src/B", std::string(5000, 'B')},
  };
  struct Run {
    int status;
    std::string text;
    std::string image;
  };
  const auto run = [&](bool reverse, const char* order) {
    FakeFileSystem fs;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const auto& [path, content] = entries[reverse ? entries.size() - 1 - i : i];
      fs.addFile(path, content);
    }
    StringConsole console;
    const int status = build(fs, console, {"-order", order});
    return Run{status, console.text(), fs.image()};
  };
  const Run forward = run(false, "name");
  const Run reverse = run(true, "NAME");
  ASSERT_EQ(forward.status, 0) << forward.text;
  EXPECT_EQ(reverse.status, 0);
  EXPECT_EQ(forward.text, reverse.text);
  EXPECT_TRUE(forward.image == reverse.image);
  // The host's own order does change the image: the test above is not idle.
  EXPECT_FALSE(run(false, "disk").image == run(true, "disk").image);
}

// A console whose first print of the given text runs out of memory.
class OutOfMemoryConsole : public StringConsole {
 public:
  explicit OutOfMemoryConsole(std::string at) : at_(std::move(at)) {}
  void print(std::string_view text) override {
    if (text == at_) {
      at_.clear();
      throw std::bad_alloc();
    }
    StringConsole::print(text);
  }

 private:
  std::string at_;
};

TEST(BuildTest, AllocationFailureIsAnInternalError) {
  OutOfMemoryFileSystem fs;
  StringConsole console;
  EXPECT_EQ(build(fs, console), 255);
  EXPECT_EQ(console.text(), "\nvornel 1.0 - disc image builder\n\nNow parsing source directory - Internal error.\n");
  EXPECT_FALSE(fs.outputCreated());
  // While the command line is read, too.
  OutOfMemoryConsole parsing("Usage:\n");
  const char* argv[] = {"vornel", "-in"};
  EXPECT_EQ(runMain(2, argv, fs, parsing), 255);
  EXPECT_EQ(parsing.text(), "\nvornel 1.0 - disc image builder\n\nInternal error.\n");
}

}  // namespace
}  // namespace vornel
