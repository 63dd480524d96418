// Runs the real program on real directories: exit status, standard output,
// and what is left on disk.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "driver/tool_runner.h"

namespace vornel {
namespace {

namespace fs = std::filesystem;

const std::string kBanner = "\nvornel 1.0 - disc image builder\n\n";
const std::string kUsage =
    "Usage:\n"
    "\tvornel [options] -in <source directory> -out <output file> \n"
    "\n\tOptions:\n"
    "\t\t-vl <volume label>\n"
    "\t\t-ra <##> root avatars count\n"
    "\t\t-da <##> directory avatars count\n"
    "\t\t-order <name|disk> directory entry order\n";

class CommandLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vornel-cli-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    src = dir / "src";
    fs::create_directory(src);
  }
  void TearDown() override { fs::remove_all(dir); }
  static void write(const fs::path& path, const std::string& content) { std::ofstream(path, std::ios::binary) << content; }

  fs::path dir;
  fs::path src;
};

TEST_F(CommandLineTest, UsageErrorsExitWith255AndHelpWithZero) {
  struct Case {
    std::vector<std::string> args;
    std::string out;
    int status = 255;
  };
  const Case cases[] = {
      {{"--help"}, kUsage, 0},
      {{"-in", "s", "-out", "o", "-HELP", "-da", "0"}, kUsage, 0},  // nothing is built
      {{"-da", "9", "-h"}, "Error directory avatars count value.\n" + kUsage},  // the first one met decides
      {{"-vl", "x", "--Version", "-h"}, "", 0},
      {{"-in", "-h", "-out", "o", "-version"}, "", 0},  // "-h" is the value of -in
      {{"-in", "-h"}, "Output file not specified.\n\n" + kUsage},
      {{"-in", "", "-out", "o"}, "Source directory not specified.\n\n" + kUsage},
      {{"-in", "s", "-out", "o", "-order", "size"}, kUsage},
      {{"-in", "s", "-out", "o", "-order"}, kUsage},
      {{}, "Source directory not specified.\n\n" + kUsage},
      {{"-in", "somewhere"}, "Output file not specified.\n\n" + kUsage},
      {{"-in"}, kUsage},
      {{"-in", "-out", "x.iso"}, "Output file not specified.\n\n" + kUsage},
      {{"-out", "x.iso"}, "Source directory not specified.\n\n" + kUsage},
      {{"-in", "s", "-out", "o", "-mf"}, kUsage},
      {{"-in", "s", "-out", "o", "-da", "0"}, "Error directory avatars count value.\n" + kUsage},
      {{"-in", "s", "-out", "o", "-da", "9"}, "Error directory avatars count value.\n" + kUsage},
      {{"-in", "s", "-out", "o", "-da", "abc"}, "Error directory avatars count value.\n" + kUsage},
      // Options are checked as they come, before missing ones are noticed.
      {{"-da", "0"}, "Error directory avatars count value.\n" + kUsage},
      {{"-in", "s", "-out", "o", "-ra", "9"}, "Error root avatars count value.\n"},
      {{"-in", "s", "-out", "o", "-ra", "99999999999999999999"}, "Error root avatars count value.\n"},
      {{"-in", "s", "-out", "o", "-vl", std::string(32, 'v')}, "Volume label more then 32 symbols.\n\n"},
  };
  for (const Case& c : cases) {
    const ToolRun run = runTool(c.args);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, kBanner + c.out);
  }
}

TEST_F(CommandLineTest, EntriesThatCannotBeTakenFailTheBuildAndWriteNothing) {
  const std::string out = (dir / "out.iso").string();
  const std::string srcPath = src.string() + "/";
  struct Case {
    const char* name;
    std::function<void()> setup;
    std::string message;
  };
  const Case cases[] = {
      {"FIFO", [&] { ASSERT_EQ(mkfifo((src / "pipe").c_str(), 0600), 0); },
       "Error file " + srcPath + "pipe is not a regular file or directory.\n"},
      {"dangling link", [&] { fs::create_symlink(dir / "nowhere", src / "gone"); },
       "Error file " + srcPath + "gone is not a regular file or directory.\n"},
      {"link loop",
       [&] {
         fs::create_directory(src / "A");
         fs::create_directory_symlink(src, src / "A" / "up");
       },
       "Error directory " + srcPath + "A/up/ loops back to a parent directory.\n"},
      {"33-byte name", [&] { write(src / std::string(33, 'n'), "x"); },
       "Name of file(directory) " + std::string(33, 'n') + " exceed max name length.\n"},
      {"missing source", [&] { fs::remove_all(src); }, "Error read directory " + srcPath + "\n"},
  };
  for (const Case& c : cases) {
    fs::remove_all(src);
    fs::create_directory(src);
    write(src / "keep.txt", "kept");
    c.setup();
    write(out, "an existing file that a failed build must leave alone");
    const ToolRun run = runTool({"-in", src.string(), "-out", out});
    EXPECT_EQ(run.status, 255) << c.name;
    EXPECT_EQ(run.out, kBanner + "Now parsing source directory - " + c.message) << c.name;
    EXPECT_EQ(fs::file_size(out), 53u) << c.name;
  }
}

TEST_F(CommandLineTest, OutputIsCreatedOrTruncatedOnlyWhenWriting) {
  const fs::path out = dir / "out.iso";
  write(out, std::string(1000000, 'x'));
  ToolRun run = runTool({"-IN", src.string(), "-Out", out.string()});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(fs::file_size(out), 462848u);

  const std::string missing = (dir / "no" / "such" / "dir" / "out.iso").string();
  run = runTool({"-in", src.string(), "-out", missing});
  EXPECT_EQ(run.status, 255);
  EXPECT_NE(run.out.find("Now write ISO image to output file - Error create output file " + missing + "\n"),
            std::string::npos)
      << run.out;

  // An existing output inside the source tree is refused before it is touched.
  const fs::path inside = src / "disc.iso";
  write(inside, "previous image");
  run = runTool({"-in", src.string(), "-out", inside.string()});
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(run.out, kBanner + "Now parsing source directory - Error file " + src.string() + "/disc.iso is the output file.\n");
  EXPECT_EQ(fs::file_size(inside), 14u);
  fs::remove(inside);

  // The example tree that ships with the project builds.
  run = runTool({"-in", std::string(VORNEL_SOURCE_DIR) + "/examples/disc", "-out", out.string()});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("Done.\n"), std::string::npos);
}

// The temporary files an interrupted or failed build could leave in a folder.
std::vector<std::string> temporaryFiles(const fs::path& folder) {
  std::vector<std::string> found;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().filename().string().rfind(".vornel-", 0) == 0) found.push_back(entry.path().string());
  }
  return found;
}

TEST_F(CommandLineTest, AFailedOrInterruptedBuildLeavesTheOutputAsItWas) {
  const fs::path out = dir / "out.iso";
  const fs::perms mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  const auto previous = [&] {
    write(out, "previous image");
    fs::permissions(out, mode);
  };
  // Only the host can make a write fail for real, or discard an image.
  ToolRun run = runTool({"-in", src.string(), "-out", "/dev/full"});
  EXPECT_EQ(run.status, 255);
  EXPECT_TRUE(run.out.ends_with(" - .Error write to output file.\n")) << run.out;
  run = runTool({"-in", src.string(), "-out", "/dev/null"});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.out.ends_with(" - .Done.\n")) << run.out;
  // A link to the output is replaced at its target and stays a link; the
  // replaced output keeps its permission bits.
  previous();
  fs::create_symlink(out.filename(), dir / "link.iso");
  run = runTool({"-in", src.string(), "-out", (dir / "link.iso").string()});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_TRUE(fs::is_symlink(dir / "link.iso"));
  EXPECT_EQ(fs::file_size(out), 462848u);
  EXPECT_EQ(fs::status(out).permissions() & fs::perms::all, mode);
  EXPECT_EQ(temporaryFiles(dir), std::vector<std::string>{});
  // SIGTERM while a few hundred megabytes are written, once the temporary
  // file exists: the old output stays and the temporary file goes.
  previous();
  write(src / "big", "");
  ASSERT_EQ(::truncate((src / "big").c_str(), 600 << 20), 0);
  std::string args[] = {VORNEL_BINARY, "-in", src.string(), "-out", out.string()};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  ASSERT_EQ(::posix_spawn(&pid, VORNEL_BINARY, &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  bool seen = false;
  int wstatus = 0;
  while (!seen && ::waitpid(pid, &wstatus, WNOHANG) == 0) seen = !temporaryFiles(dir).empty();
  if (seen) {
    ::kill(pid, SIGTERM);
    ASSERT_EQ(::waitpid(pid, &wstatus, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(wstatus) && WTERMSIG(wstatus) == SIGTERM);
    EXPECT_EQ(fs::file_size(out), 14u);
    EXPECT_EQ(temporaryFiles(dir), std::vector<std::string>{});
  } else {
    ADD_FAILURE() << "the build ended before its temporary file was seen";
  }
}

// Copies a tree, creating the entries of every directory in name order or in
// the reverse of it, so that hosts that list entries in creation order list
// the two copies differently.
void copyTree(const fs::path& from, const fs::path& to, bool reverse) {
  fs::create_directory(to);
  std::vector<fs::path> entries{fs::directory_iterator(from), fs::directory_iterator()};
  std::sort(entries.begin(), entries.end());
  if (reverse) std::reverse(entries.begin(), entries.end());
  for (const fs::path& entry : entries) {
    if (fs::is_directory(entry)) {
      copyTree(entry, to / entry.filename(), reverse);
    } else {
      fs::copy_file(entry, to / entry.filename());
    }
  }
}

std::string readAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST_F(CommandLineTest, TheExampleTreeGivesTheSameImageWhateverItsCreationOrder) {
  const fs::path example = fs::path(VORNEL_SOURCE_DIR) / "examples" / "disc";
  copyTree(example, dir / "forward", false);
  copyTree(example, dir / "reverse", true);
  const ToolRun forward = runTool({"-in", (dir / "forward").string(), "-out", (dir / "forward.iso").string()});
  const ToolRun reverse = runTool({"-in", (dir / "reverse").string(), "-out", (dir / "reverse.iso").string()});
  ASSERT_EQ(forward.status, 0) << forward.out;
  EXPECT_EQ(reverse.status, 0);
  EXPECT_EQ(forward.out, reverse.out);
  const std::string image = readAll(dir / "forward.iso");
  EXPECT_GT(image.size(), 0u);
  EXPECT_TRUE(image == readAll(dir / "reverse.iso"));
}

}  // namespace
}  // namespace vornel
