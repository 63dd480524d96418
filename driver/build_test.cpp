// The whole program on the in-memory file system: command lines that end
// before anything is built, and every way a build can fail, each with its
// exact text, its exit status, and for a failed build, no image committed
// over the output and the blocks written before the build stopped.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <new>
#include <thread>

#include "driver/test_build.h"

namespace vornel {
namespace {

const std::string kBanner = "\nvornel 1.0 - disc image builder\n\n";
const std::string kParse = "Now parsing source directory - ";
const std::string kLabel = kParse + "Done.\nDisc label avatars placed successfully.\n";
const std::string kSystem = kLabel + "System files avatars placed successfully.\n";
const std::string kOthers = kSystem + "Other files avatars placed successfully.\n";
const std::string kWrite = kOthers + "File system created successfully.\nNow write ISO image to output file - ";
constexpr std::uint64_t kBlock = 2048;

const std::string kUsage =
    "Usage:\n\tvornel [options] -in <source directory> -out <output file> \n\n\tOptions:\n\t\t-vl <volume label>\n"
    "\t\t-ra <##> root avatars count\n\t\t-da <##> directory avatars count\n"
    "\t\t-order <name|disk> directory entry order\n";

// Command lines that end before anything is built: exit status and text.
TEST(BuildTest, UsageErrorsExitWith255AndHelpWithZero) {
  struct Case {
    std::vector<std::string> args;
    std::string out;
    int status = 255;
  };
  const std::string label31(31, 'v');
  const Case cases[] = {
      {{"--help"}, kUsage, 0},
      {{"-in", "s", "-out", "o", "-HELP", "-da", "0"}, kUsage, 0},              // nothing is built
      {{"-da", "9", "-h"}, "Error directory avatars count value.\n" + kUsage},  // the first one met decides
      {{"-vl", "x", "--Version", "-h"}, "", 0},
      {{"-in", "-h", "-out", "o", "-version"}, "", 0},  // "-h" is the value of -in
      {{"-in", "-h"}, "Output file not specified.\n\n" + kUsage},
      {{"-in", "", "-out", "o"}, "Source directory not specified.\n\n" + kUsage},
      {{"-in", "s", "-out", "o", "-order", "size"}, kUsage},
      {{}, "Source directory not specified.\n\n" + kUsage},
      {{"-in"}, kUsage},
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
      {{"-IN", "nowhere", "-Out", "a", "-x", "-mf", "-in", "-rd", "-out", "-s", "-out", "b", "-vl", label31, "-DA", "8",
        "-ra", "1x", "-in", "", "-ORDER", "Disk"},
       "Now parsing source directory - Error read directory nowhere/\n"},
  };
  for (const Case& c : cases) {
    std::vector<const char*> argv = {"vornel"};
    for (const auto& arg : c.args) argv.push_back(arg.c_str());
    FakeFileSystem fs;
    StringConsole console;
    EXPECT_EQ(runMain(static_cast<int>(argv.size()), argv.data(), fs, console), c.status) << c.out;
    EXPECT_EQ(console.text(), kBanner + c.out);
    EXPECT_FALSE(fs.outputCreated);
  }
}

using Fs = FakeFileSystem;
using Change = std::function<void(Fs&)>;

// A file added after the scan's listing: grew or shrank (or vanished) by the
// time the writer reads it.
Change changeLater(std::string content) {
  return [content](Fs& fs) { fs.onCreateOutput = [&fs, content] { fs.setContent("src/f", content); }; };
}

TEST(BuildTest, EveryFailureStopsTheBuildWithItsMessage) {
  struct Case {
    const char* name;
    Change setup;
    std::string text;                         // after the banner
    std::vector<std::uint64_t> written = {};  // whole blocks written, in order
    std::vector<std::string> options = {};
  };
  // With -ra 1 -da 1 and the 3000-byte file src/f: f at blocks 1 and 2, the
  // root at 3, filler up to the label's copy at 225, the label last.
  std::vector<std::uint64_t> beforeLabel = {3, 1, 2};
  for (std::uint64_t b = 4; b < 225; ++b) beforeLabel.push_back(b);
  std::vector<std::uint64_t> all = beforeLabel;
  all.insert(all.end(), {0, 225});
  const std::string name33 = "%s%n\n\xff" + std::string(29, 'M');
  const std::string writeFailed = kWrite + "..Error write to output file.\n";
  const std::string changed = kWrite + "..Error file src/f changed size during the build.\n";
  const auto sized = [](Fs& fs, const std::string& path, std::uint64_t blocks) {
    fs.addFile(path, ""), fs.reportedSize[path] = blocks * kBlock;
  };
  const Case cases[] = {
      {"source missing", [](Fs&) {}, kParse + "Error read directory nowhere/\n", {}, {"-in", "nowhere"}},
      {"unreadable folder", [](Fs& fs) { fs.addDirectory("src/A"), fs.failListing.insert("src/A"); },
       kParse + "Error read directory src/A/\n"},
      {"4 GiB", [](Fs& fs) { fs.addFile("src/big", ""), fs.reportedSize["src/big"] = 1ull << 32; },
       kParse + "Error file src/big is 4 GiB or larger.\n"},
      {"empty placement file not opened", [](Fs& fs) { fs.addFile("src/A/#x", ""), fs.failOpen.insert("src/A/#x"); },
       kParse + "Error read file src/A/#x\n"},
      {"placement file that cannot be read", [](Fs& fs) { fs.addFile("src/#x", "3"), fs.failReadAfter["src/#x"] = 0; },
       kParse + "Error read file src/#x\n"},
      {"status that cannot be read", [](Fs& fs) { fs.failStat.insert("src/f"); }, kParse + "Error read file src/f\n"},
      {"entry gone since the listing", [](Fs& fs) { fs.addFile("src/g", ""), fs.remove("src/g"); },
       kParse + "Error read file src/g\n"},
      {"dangling link", [](Fs& fs) { fs.addLink("src/l", "src/nowhere"); },
       kParse + "Error file src/l is not a regular file or directory.\n"},
      {"link to a parent", [](Fs& fs) { fs.addLink("src/A/up", "src"); },
       kParse + "Error directory src/A/up/ loops back to a parent directory.\n"},
      {"name of 33 bytes, shown as it is", [&](Fs& fs) { fs.addFile("src/" + name33, ""); },
       kParse + "Name of file(directory) " + name33 + " exceed max name length.\n"},
      {"same name on the disc", [](Fs& fs) { fs.addFile("src/sub/readme", ""), fs.addFile("src/sub/README", ""); },
       kParse + "Error file src/sub/readme has the same name as src/sub/README on the disc.\n"},
      {"a clash first", [](Fs& fs) { fs.addFile("src/AB", ""), fs.addFile("src/aB/" + std::string(33, 'n'), ""); },
       kParse + "Error file src/aB has the same name as src/AB on the disc.\n"},
      {"output inside the source tree", [](Fs& fs) { fs.addFile("src/sub/out.iso", "old"); },
       kParse + "Error file src/sub/out.iso is the output file.\n", {}, {"-out", "src/sub/out.iso"}},
      {"placement without numbers", [](Fs& fs) { fs.addFile("src/#f", "none"); },
       kLabel + "Error avatar placement in file #f, avatar: #-1\n"},
      {"placement on the label", [](Fs& fs) { fs.addFile("src/%s%n", "x"), fs.addFile("src/#%s%n", "0"); },
       kLabel + "Error avatar placement in file #%s%n, avatar: #0\n"},
      {"placement beyond 32 bits", [](Fs& fs) { fs.addFile("src/#f", "1 4294967297"); },
       kLabel + "Error avatar placement in file #f, avatar: #4294967297\n"},
      {"placement of 20 digits", [](Fs& fs) { fs.addFile("src/#f", "00099999999999999999"); },
       kLabel + "Error avatar placement in file #f, avatar: #00099999999999999999\n"},
      {"placement past the pool", [](Fs& fs) { fs.addFile("src/#f", "329999"); },
       kLabel + "Error avatar placement in file #f, avatar: #329999\n"},
      {"second copy over the first", [](Fs& fs) { fs.addFile("src/#f", "100 101"); },
       kLabel + "Error avatar placement in file #f, avatar: #101\n"},
      {"empty file beyond 32 bits", [](Fs& fs) { fs.addFile("src/e", ""), fs.addFile("src/#e", "4294967296"); },
       kLabel + "Error avatar placement in file #e, avatar: #4294967296\n"},
      {"os_code on boot_code", [&](Fs& fs) { sized(fs, "src/boot_code", 5), fs.addFile("src/os_code", "o"); },
       kLabel + "Error avatar placement in file #os_code, avatar: #6\n"},
      {"rom_tags on boot_code", [&](Fs& fs) { sized(fs, "src/rom_tags", 2), fs.addFile("src/boot_code", "b"); },
       kLabel + "Error avatar placement in file #rom_tags, avatar: #1\n"},
      {"misc_code on the label", [&](Fs& fs) { sized(fs, "src/misc_code", 156); },
       kLabel + "Error avatar placement in file #misc_code, avatar: #70\n"},
      {"4 GiB less a byte: not too large to scan",
       [](Fs& fs) { fs.addFile("src/big", ""), fs.reportedSize["src/big"] = 0xFFFFFFFF; },
       kSystem + "Error place file big in free blocks pool.\n"},
      {"no room for a file", [&](Fs& fs) { sized(fs, "src/big", 329775); },
       kSystem + "Error place file big in free blocks pool.\n"},
      {"no room for the root", [&](Fs& fs) { sized(fs, "src/g", 222), sized(fs, "src/h", 329774); },
       kOthers + "Error place (stage 2) directory src/ in free blocks pool.\n"},
      {"no room for S", [&](Fs& fs) { sized(fs, "src/g", 221), sized(fs, "src/h", 329774), fs.addDirectory("src/S"); },
       kOthers + "Error place (stage 2) directory S in free blocks pool.\n"},
      {"output not created", [](Fs& fs) { fs.failCreate = true; }, kWrite + "Error create output file out.iso\n"},
      {"seek to the root", [](Fs& fs) { fs.failSeekTo = 3 * kBlock; }, kWrite + ".Error write to output file.\n"},
      {"short directory block", [](Fs& fs) { fs.shortWrite = {{3 * kBlock, 0}}; },
       kWrite + ".Error write to output file.\n"},
      // The chains of A and B go out with the root's in one write, which
      // stops at B; written again one by one, they stop at B after its dot.
      {"short block of a later directory",
       [](Fs& fs) { fs.addDirectory("src/A"), fs.addDirectory("src/B"), fs.shortWrite = {{5 * kBlock, 0}}; },
       kWrite + "...Error write to output file.\n", {3, 4, 3, 4}},
      {"seek to a file", [](Fs& fs) { fs.failSeekTo = kBlock; }, writeFailed, {3}},
      {"short file block", [](Fs& fs) { fs.shortWrite = {{2 * kBlock, 2047}}; }, writeFailed, {3, 1}},
      {"seek to filler", [](Fs& fs) { fs.failSeekTo = 4 * kBlock; }, writeFailed, {3, 1, 2}},
      {"short filler", [](Fs& fs) { fs.shortWrite = {{4 * kBlock, 1}}; }, writeFailed, {3, 1, 2}},
      {"seek to the label", [](Fs& fs) { fs.failSeekTo = 0; }, writeFailed, beforeLabel},
      {"short label", [](Fs& fs) { fs.shortWrite = {{0, 100}}; }, writeFailed, beforeLabel},
      {"failed close or rename", [](Fs& fs) { fs.failCommit = true; }, writeFailed, all},
      {"source gone", [](Fs& fs) { fs.onCreateOutput = [&fs] { fs.remove("src/f"); }; },
       kWrite + "..Error open file src/f\n", {3}},
      {"read error", [](Fs& fs) { fs.failReadAfter["src/f"] = kBlock; }, kWrite + "..Error read file src/f\n", {3}},
      {"host copy failing midway", [](Fs& fs) { fs.copyAtMost = 1 << 20, fs.failReadAfter["src/f"] = kBlock; },
       kWrite + "..Error read file src/f\n", {3, 1}},
      {"file grew", changeLater(std::string(9000, 'g')), changed, {3, 1, 2}},
      {"file shrank", changeLater("tiny"), changed, {3, 1}},
      {"file emptied", changeLater(""), changed, {3}},
      {"shrank under host copies", [](Fs& fs) { fs.copyAtMost = 1000, changeLater(std::string(2000, 's'))(fs); },
       changed, {3, 1}},
      {"empty file grew", [](Fs& fs) { fs.setContent("src/f", ""), changeLater("new")(fs); }, changed, {1}},
      {"grew under host copies", [](Fs& fs) { fs.copyAtMost = 1 << 20, changeLater(std::string(9000, 'g'))(fs); },
       changed, {3, 1, 2}},
  };
  for (const Case& c : cases) {
    for (const bool readAhead : {false, true}) {
      FakeFileSystem fs;
      fs.addFile("src/f", std::string(3000, 'f'));
      c.setup(fs);
      std::vector<std::string> options = {"-ra", "1", "-da", "1"};
      options.insert(options.end(), c.options.begin(), c.options.end());
      const BuildRun run = buildInMemory(fs, options, readAhead ? &fs : nullptr);
      EXPECT_EQ(run.status, 255) << c.name;
      EXPECT_EQ(run.text, kBanner + c.text) << c.name;
      EXPECT_FALSE(fs.outputCommitted) << c.name;
      std::vector<std::uint64_t> written;
      for (const auto& write : fs.writes) {
        if (write.size == kBlock) written.push_back(write.offset / kBlock);
      }
      EXPECT_EQ(written, c.written) << c.name;
    }
  }
}

// The fake file system seen by a helper that reads slowly, so that the scan
// comes to what the helper is still reading and waits for it.
struct SlowFileSystem : FileSystem {
  explicit SlowFileSystem(FileSystem& fs) : fs(fs) {}
  bool listDirectory(const std::string& path, std::vector<std::string>& names) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return fs.listDirectory(path, names);
  }
  FileInfo stat(const std::string& path) override { return fs.stat(path); }
  std::unique_ptr<InputFile> openInput(const std::string& path) override { return fs.openInput(path); }
  std::unique_ptr<OutputFile> createOutput(const std::string& path) override { return fs.createOutput(path); }
  FileSystem& fs;
};

// Directories read ahead on a second thread change nothing: a failure deep
// in the last subtree, which the helper reads while the scan reads the
// first, shows exactly where the scan alone shows it, whether the helper is
// done with it or the scan waits for it.
TEST(BuildTest, ReadingAheadChangesNothing) {
  const Change cases[] = {
      [](Fs&) {},
      [](Fs& fs) { fs.failListing.insert("src/dl/e3"); },
      [](Fs& fs) { fs.failStat.insert("src/dl/e3/f"); },
      [](Fs& fs) { fs.addLink("src/dl/e3/up", "src"); },
      [](Fs& fs) { fs.addLink("src/dl/e3/up", "src/dl"); },
      [](Fs& fs) { fs.addFile("src/dl/e3/F", ""); },
      [](Fs& fs) { fs.addFile("src/dl/e3/" + std::string(33, 'n'), ""); },
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    Fs plain, ahead, slow;
    for (Fs* fs : {&plain, &ahead, &slow}) {
      for (char d = 'a'; d <= 'l'; ++d) {
        for (char e = '0'; e <= '3'; ++e) fs->addFile(std::string("src/d") + d + "/e" + e + "/f", {d, e});
      }
      cases[i](*fs);
    }
    SlowFileSystem slowHelper(slow);
    const BuildRun a = buildInMemory(plain), b = buildInMemory(ahead, {}, &ahead),
                   c = buildInMemory(slow, {}, &slowHelper);
    EXPECT_EQ(a.status, i == 0 ? 0 : 255) << a.text;
    for (const BuildRun& run : {b, c}) {
      EXPECT_TRUE(run.status == a.status && run.text == a.text && run.image == a.image) << i << run.text;
    }
  }
}

// A console that runs out of memory when it is handed the first line of the
// usage text, while the command line is read.
struct OutOfMemoryConsole : StringConsole {
  void print(std::string_view text) override {
    if (text == "Usage:\n") throw std::bad_alloc();
    StringConsole::print(text);
  }
};

TEST(BuildTest, AllocationFailureIsAnInternalError) {
  FakeFileSystem fs;
  OutOfMemoryConsole console;
  const char* argv[] = {"vornel", "-h"};
  EXPECT_EQ(runMain(2, argv, fs, console), 255);
  EXPECT_EQ(console.text(), kBanner + "Internal error.\n");
}

}  // namespace
}  // namespace vornel
