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

std::string because(const std::string& reason) { return "vornel: " + reason + "\n"; }

// Command lines that end before anything is built: exit status and text on
// both streams; -q and -out - route what is printed.
TEST(BuildTest, UsageErrorsExitWith255AndHelpWithZero) {
  struct Case {
    std::vector<std::string> args;
    std::string out, errors;
    int status = 255;
  };
  const std::string label31(31, 'v');
  const std::string noSource = "Source directory not specified.\n\n" + kUsage;
  const std::string whyNoSource = because("the command line names no source directory (-in)");
  const std::string noOutput = "Output file not specified.\n\n" + kUsage;
  const std::string whyNoOutput = because("the command line names no output file (-out)");
  const std::string badDa = "Error directory avatars count value.\n" + kUsage;
  const Case cases[] = {
      {{"--help"}, kBanner + kUsage, "", 0},
      {{"-in", "s", "-out", "o", "-HELP", "-da", "0"}, kBanner + kUsage, "", 0},                   // nothing is built
      {{"-da", "9", "-h"}, kBanner + badDa, because("-da takes a count from 1 to 8, not \"9\"")},  // the first one met
      {{"-vl", "x", "--Version", "-h"}, "vornel 1.0\n", "", 0},
      {{"-in", "-h", "-out", "o", "-version"}, "vornel 1.0\n", "", 0},  // "-h" is the value of -in
      {{"-in", "-h"}, kBanner + noOutput, whyNoOutput},
      {{"-in", "", "-out", "o"}, kBanner + noSource, whyNoSource},
      {{"-in", "s", "-out", "o", "-order", "size"}, kBanner + kUsage,
       because("-order takes name or disk, not \"size\"")},
      {{}, kBanner + noSource, whyNoSource},
      {{"-in"}, kBanner + kUsage, because("-in needs a value after it")},
      {{"-in", "s", "-out", "o", "-da", "0"}, kBanner + badDa, because("-da takes a count from 1 to 8, not \"0\"")},
      {{"-in", "s", "-out", "o", "-da", "abc"}, kBanner + badDa, because("-da takes a count from 1 to 8, not \"abc\"")},
      {{"-in", "s", "-out", "o", "-ra", "9"}, kBanner + "Error root avatars count value.\n",
       because("-ra takes a count from 1 to 8, not \"9\"")},
      {{"-in", "s", "-out", "o", "-vl", std::string(32, 'v')}, kBanner + "Volume label more then 32 symbols.\n\n",
       because("the volume label has 32 bytes; at most 31 fit")},
      // Quiet: failure messages, the usage text, help and the version only;
      // no warnings. Text before -q on the command line is printed anyway.
      {{"-q", "-x", "-da", "0"}, badDa, because("-da takes a count from 1 to 8, not \"0\"")},
      {{"-Q", "-in", "nowhere", "-out", "o"}, "Error read directory nowhere/\n", because("No such file or directory")},
      {{"-q", "-h"}, kUsage, "", 0},
      {{"-x", "-q", "-in", "s"}, noOutput, whyNoOutput},
      // The image on standard output: all text goes to standard error.
      {{"-out", "-", "-x", "-in", "nowhere"}, "",
       kBanner + "vornel: warning: ignored the argument \"-x\", which is no option\n" + kParse +
           "Error read directory nowhere/\n" + because("No such file or directory")},
      {{"-out", "-", "-q", "-ra", "0"}, "",
       "Error root avatars count value.\n" + because("-ra takes a count from 1 to 8, not \"0\"")},
      // Accepted: names in any case; -mf and -rd take the argument after
      // them, -x and -s none; later options replace earlier ones, but an
      // empty -in replaces nothing; a count is read as atoi reads it; the
      // source directory gets its "/".
      {{"-IN", "nowhere", "-Out",  "a",   "-x", "-mf", "-in", "-rd", "-out", "-s",     "-out",
        "b",   "-vl",     label31, "-DA", "8",  "-ra", "\r1x",  "-in", "",     "-ORDER", "Disk"},
       kBanner + kParse + "Error read directory nowhere/\n",
       "vornel: warning: ignored the argument \"-x\", which is no option\n" + because("No such file or directory")},
  };
  for (const Case& c : cases) {
    std::vector<const char*> argv = {"vornel"};
    for (const auto& arg : c.args) argv.push_back(arg.c_str());
    FakeFileSystem fs;
    StringConsole console;
    EXPECT_EQ(runMain(static_cast<int>(argv.size()), argv.data(), fs, console), c.status) << c.out;
    EXPECT_EQ(console.text(), c.out);
    EXPECT_EQ(console.errors(), c.errors);
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
    std::string errors;  // standard error: the reason, after any warning
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
  const std::string noEntry = because("No such file or directory"), denied = because("Permission denied"),
                    ioError = because("Input/output error"), full = because("No space left on device"),
                    grew = because("it had 3000 bytes when the tree was read and has 9000 now");
  const std::string sameName =
      because("the disc does not tell upper from lower case in names, so it could reach only one of them");
  const std::string noRoom = because("it needs one copy of 1 block, 64 blocks apart; the largest free run has 0");
  const std::string noNumber =
      "vornel: warning: src/#f: ignored \"none\": reading stops at the first word that is not a number\n" +
      because("the placement file gives no number for this copy");
  const auto sized = [](Fs& fs, const std::string& path, std::uint64_t blocks) {
    fs.addFile(path, ""), fs.reportedSize[path] = blocks * kBlock;
  };
  // A layout file: the label on line 1, the root on line 3, these entries
  // from line 4 on.
  const auto layout = [](std::string entries, std::string label = R"("rootId": 2, "rootAvatars": [3])") {
    return [=](Fs& fs) {
      fs.addFile("layout.json", R"({"label": {"volumeLabel": "", "volumeComment": "", "volumeFlags": 0, "volumeId": 50, )" +
                                    label + "},\n\"entries\": [\n" +
                                    R"({"path": "/", "kind": "directory", "id": 2, "type": "*dir", "blockCount": 1, )"
                                    R"("avatars": []})" + entries + "]}");
    };
  };
  const auto file = [](std::string path, int id, std::string blocks, std::string avatars) {
    return ",\n{\"path\": \"" + path + "\", \"kind\": \"file\", \"id\": " + std::to_string(id) +
           R"(, "type": "    ", "blockCount": )" + blocks + ", \"avatars\": " + avatars + "}";
  };
  const std::vector<std::string> withLayout = {"-layout", "layout.json"};
  const std::string notListing = because("a layout file is the listing that vornel-inspect --json writes");
  const Case cases[] = {
      {"source missing", noEntry, [](Fs&) {}, kParse + "Error read directory nowhere/\n", {}, {"-in", "nowhere"}},
      {"unreadable folder", denied, [](Fs& fs) { fs.addDirectory("src/A"), fs.failListing.insert("src/A"); },
       kParse + "Error read directory src/A/\n"},
      {"4 GiB", because("it has 4294967296 bytes; a file on the disc has at most 4294967295"),
       [](Fs& fs) { fs.addFile("src/big", ""), fs.reportedSize["src/big"] = 1ull << 32; },
       kParse + "Error file src/big is 4 GiB or larger.\n"},
      {"empty placement file not opened", denied,
       [](Fs& fs) { fs.addFile("src/A/#x", ""), fs.failOpen.insert("src/A/#x"); },
       kParse + "Error read file src/A/#x\n"},
      {"placement file that cannot be read", ioError,
       [](Fs& fs) { fs.addFile("src/#x", "3"), fs.failReadAfter["src/#x"] = 0; }, kParse + "Error read file src/#x\n"},
      {"status that cannot be read", denied, [](Fs& fs) { fs.failStat.insert("src/f"); },
       kParse + "Error read file src/f\n"},
      {"entry gone since the listing", noEntry,
       [](Fs& fs) { fs.addFile("src/g", ""), fs.remove("src/g"); }, kParse + "Error read file src/g\n"},
      {"dangling link", because("it is a symbolic link that leads nowhere"),
       [](Fs& fs) { fs.addLink("src/l", "src/nowhere"); },
       kParse + "Error file src/l is not a regular file or directory.\n"},
      {"link to a parent", because("it is the same directory as one that contains it"),
       [](Fs& fs) { fs.addLink("src/A/up", "src"); },
       kParse + "Error directory src/A/up/ loops back to a parent directory.\n"},
      {"name of 33 bytes, shown as it is", because("the name has 35 bytes; a name on the disc has at most 32"),
       [&](Fs& fs) { fs.addFile("src/" + name33, ""); },
       kParse + "Name of file(directory) " + name33 + " exceed max name length.\n"},
      {"same name on the disc", sameName,
       [](Fs& fs) { fs.addFile("src/sub/readme", ""), fs.addFile("src/sub/README", ""); },
       kParse + "Error file src/sub/readme has the same name as src/sub/README on the disc.\n"},
      {"a clash first", sameName,
       [](Fs& fs) { fs.addFile("src/AB", ""), fs.addFile("src/aB/" + std::string(33, 'n'), ""); },
       kParse + "Error file src/aB has the same name as src/AB on the disc.\n"},
      {"placement without numbers", noNumber, [](Fs& fs) { fs.addFile("src/#f", "none"); },
       kLabel + "Error avatar placement in file #f, avatar: #-1\n"},
      {"placement on the label",
       because("the copy takes 1 block from block 0, and block 0 already holds the disc label"),
       [](Fs& fs) { fs.addFile("src/%s%n", "x"), fs.addFile("src/#%s%n", "0"); },
       kLabel + "Error avatar placement in file #%s%n, avatar: #0\n"},
      {"placement beyond 32 bits", because("block 4294967297 lies past the end of the disc"),
       [](Fs& fs) { fs.addFile("src/#f", "1 4294967297"); },
       kLabel + "Error avatar placement in file #f, avatar: #4294967297\n"},
      {"placement of 20 digits", because("block 00099999999999999999 lies past the end of the disc"),
       [](Fs& fs) { fs.addFile("src/#f", "00099999999999999999"); },
       kLabel + "Error avatar placement in file #f, avatar: #00099999999999999999\n"},
      {"placement past the pool",
       because("a copy of 2 blocks from block 329999 runs past the disc's last block, 329999"),
       [](Fs& fs) { fs.addFile("src/#f", "329999"); }, kLabel + "Error avatar placement in file #f, avatar: #329999\n"},
      {"second copy over the first",
       because("the copy takes 2 blocks from block 101, and block 101 already holds src/f"),
       [](Fs& fs) { fs.addFile("src/#f", "100 101"); }, kLabel + "Error avatar placement in file #f, avatar: #101\n"},
      {"empty file beyond 32 bits", because("block 4294967296 lies past the end of the disc"),
       [](Fs& fs) { fs.addFile("src/e", ""), fs.addFile("src/#e", "4294967296"); },
       kLabel + "Error avatar placement in file #e, avatar: #4294967296\n"},
      {"os_code on boot_code", because("the copy takes 1 block from block 6, and block 6 already holds src/boot_code"),
       [&](Fs& fs) { sized(fs, "src/boot_code", 5), fs.addFile("src/os_code", "o"); },
       kLabel + "Error avatar placement in file #os_code, avatar: #6\n"},
      {"rom_tags on boot_code",
       because("the copy takes 2 blocks from block 1, and block 2 already holds src/boot_code"),
       [&](Fs& fs) { sized(fs, "src/rom_tags", 2), fs.addFile("src/boot_code", "b"); },
       kLabel + "Error avatar placement in file #rom_tags, avatar: #1\n"},
      {"misc_code on the label",
       because("the copy takes 156 blocks from block 70, and block 225 already holds the disc label"),
       [&](Fs& fs) { sized(fs, "src/misc_code", 156); },
       kLabel + "Error avatar placement in file #misc_code, avatar: #70\n"},
      {"4 GiB less a byte: not too large to scan", because("it needs 2097152 blocks; the largest free run has 329774"),
       [](Fs& fs) { fs.addFile("src/big", ""), fs.reportedSize["src/big"] = 0xFFFFFFFF; },
       kSystem + "Error place file big in free blocks pool.\n"},
      {"no room for a file", because("it needs 329775 blocks; the largest free run has 329774"),
       [&](Fs& fs) { sized(fs, "src/big", 329775); }, kSystem + "Error place file big in free blocks pool.\n"},
      {"no room for the root", noRoom, [&](Fs& fs) { sized(fs, "src/g", 222), sized(fs, "src/h", 329774); },
       kOthers + "Error place (stage 2) directory src/ in free blocks pool.\n"},
      {"no room for S", noRoom,
       [&](Fs& fs) { sized(fs, "src/g", 221), sized(fs, "src/h", 329774), fs.addDirectory("src/S"); },
       kOthers + "Error place (stage 2) directory S in free blocks pool.\n"},
      {"output not created", full, [](Fs& fs) { fs.failCreate = true; }, kWrite + "Error create output file out.iso\n"},
      {"seek to the root", full, [](Fs& fs) { fs.failSeekTo = 3 * kBlock; }, kWrite + ".Error write to output file.\n"},
      {"short directory block", full, [](Fs& fs) { fs.shortWrite = {{3 * kBlock, 0}}; },
       kWrite + ".Error write to output file.\n"},
      // The chains of A and B go out with the root's in one write, which
      // stops at B; written again one by one, they stop at B after its dot.
      {"short block of a later directory", full,
       [](Fs& fs) { fs.addDirectory("src/A"), fs.addDirectory("src/B"), fs.shortWrite = {{5 * kBlock, 0}}; },
       kWrite + "...Error write to output file.\n", {3, 4, 3, 4}},
      // The root at 3 and A at 4 and 68: two runs, the first cut short.
      {"short block of an earlier run", full,
       [](Fs& fs) { fs.addDirectory("src/A"), fs.shortWrite = {{3 * kBlock, 0}}; },
       kWrite + ".Error write to output file.\n", {}, {"-da", "2"}},
      {"seek to a file", full, [](Fs& fs) { fs.failSeekTo = kBlock; }, writeFailed, {3}},
      {"short file block", full, [](Fs& fs) { fs.shortWrite = {{2 * kBlock, 2047}}; }, writeFailed, {3, 1}},
      {"seek to filler", full, [](Fs& fs) { fs.failSeekTo = 4 * kBlock; }, writeFailed, {3, 1, 2}},
      {"short filler", full, [](Fs& fs) { fs.shortWrite = {{4 * kBlock, 1}}; }, writeFailed, {3, 1, 2}},
      {"seek to the label", full, [](Fs& fs) { fs.failSeekTo = 0; }, writeFailed, beforeLabel},
      {"short label", full, [](Fs& fs) { fs.shortWrite = {{0, 100}}; }, writeFailed, beforeLabel},
      {"failed close or rename", full, [](Fs& fs) { fs.failCommit = true; }, writeFailed, all},
      {"source gone", noEntry, [](Fs& fs) { fs.onCreateOutput = [&fs] { fs.remove("src/f"); }; },
       kWrite + "..Error open file src/f\n", {3}},
      {"read error", ioError, [](Fs& fs) { fs.failReadAfter["src/f"] = kBlock; }, kWrite + "..Error read file src/f\n",
       {3}},
      {"host copy failing midway", ioError, [](Fs& fs) { fs.copyAtMost = 1 << 20, fs.failReadAfter["src/f"] = kBlock; },
       kWrite + "..Error read file src/f\n", {3, 1}},
      {"file grew", grew, changeLater(std::string(9000, 'g')), changed, {3, 1, 2}},
      {"file shrank", because("it had 3000 bytes when the tree was read and has 4 now"), changeLater("tiny"), changed,
       {3, 1}},
      {"file emptied", because("it had 3000 bytes when the tree was read and has 0 now"), changeLater(""), changed,
       {3}},
      {"shrank under host copies", because("it had 3000 bytes when the tree was read and has 2000 now"),
       [](Fs& fs) { fs.copyAtMost = 1000, changeLater(std::string(2000, 's'))(fs); }, changed, {3, 1}},
      {"empty file grew", because("it had 0 bytes when the tree was read and has 3 now"),
       [](Fs& fs) { fs.setContent("src/f", ""), changeLater("new")(fs); }, changed, {1}},
      {"grew under host copies", grew, [](Fs& fs) { fs.copyAtMost = 1 << 20, changeLater(std::string(9000, 'g'))(fs); },
       changed, {3, 1, 2}},
      // A layout: a pinned file that no longer fits, a directory that
      // gained a block, and documents that are no such listing: nothing is
      // scanned.
      {"pinned file grew", because("it has 2 blocks now, 1 in the layout; block 5 already holds /g; to place it anew, "
                                   "empty its avatars in the layout file"),
       [&](Fs& fs) { fs.addFile("src/g", "g"), layout(file("/g", 9, "1", "[5]") + file("/f", 8, "1", "[4]"))(fs); },
       kLabel + "Error layout avatar 4 of /f: 2 blocks do not fit there.\n", {}, withLayout},
      {"pinned directory gained a block", because("the directory's entries need 2 blocks now, 1 in the layout; to "
                                                  "place it anew, empty its avatars in the layout file"),
       [&](Fs& fs) {
         for (int i = 0; i < 29; ++i) fs.addFile("src/A/" + std::to_string(i), "");
         layout(R"(, {"path": "/A", "kind": "directory", "id": 9, "type": "*dir", "blockCount": 1, "avatars": [9]})")(fs);
       },
       kOthers + "Error layout avatar 9 of /A: 2 blocks do not fit there.\n", {}, withLayout},
      {"layout not read", denied, [](Fs& fs) { fs.addFile("layout.json", ""), fs.failOpen.insert("layout.json"); },
       "Error read file layout.json\n", {}, withLayout},
      {"layout cut short",
       because("parse error at line 2, column 14: syntax error while parsing object - unexpected end of input; "
               "expected '}'"),
       [](Fs& fs) { fs.addFile("layout.json", "{\"label\": {\"volumeLabel\": \"\",\n\"volumeId\": 5"); },
       "Error layout file layout.json, line 2: expected valid JSON.\n", {}, withLayout},
      {"layout number beyond any type", because("number overflow parsing '1e99999'"),
       [](Fs& fs) { fs.addFile("layout.json", "{\n\"label\": 1e99999}"); },
       "Error layout file layout.json, line 2: expected valid JSON.\n", {}, withLayout},
      {"layout of wrong types", notListing, layout(file("/f", 8, "\"2\"", "[4]")),
       "Error layout file layout.json, line 4: expected \"blockCount\": a block count inside the disc.\n", {},
       withLayout},
      {"layout ids repeated", notListing, layout(file("/f", 8, "2", "[]") + file("/g", 8, "1", "[]")),
       "Error layout file layout.json, line 5: expected an id of its own; 8 is listed before.\n", {}, withLayout},
      {"layout avatars out of the disc", notListing,  // an empty file's avatar may be any 32-bit value
       layout(file("/e", 7, "0", "[-2147483648]") + file("/f", 8, "2", "[329999]")),
       "Error layout file layout.json, line 5: expected avatars inside the disc: 2 blocks from block 329999 pass its "
       "last block, 329999.\n", {}, withLayout},
      {"layout blocks claimed twice", notListing, layout(file("/f", 8, "2", "[224]")),
       "Error layout file layout.json, line 4: expected blocks that nothing else holds: block 225 is held by line 1 "
       "too.\n", {}, withLayout},
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
      EXPECT_EQ(run.errors, c.errors) << c.name;
      EXPECT_FALSE(fs.outputCommitted) << c.name;
      std::vector<std::uint64_t> written;
      for (const auto& write : fs.writes) {
        if (write.size == kBlock) written.push_back(write.offset / kBlock);
      }
      EXPECT_EQ(written, c.written) << c.name;
    }
  }
}

// An output that cannot seek gets its blocks in order, each once: label,
// f at 1 and 2, the root at 3, filler, the label again; a failure stops the
// stream where it happens, after the dots of what was written. A file that
// owns no block is checked before anything goes out.
TEST(BuildTest, FailuresInBlockOrder) {
  struct Case {
    const char* name;
    Change setup;
    std::uint64_t blocks;  // written before the failure
    std::string text = "..Error write to output file.\n";  // after the label lines
    std::string reason = "No space left on device";
  };
  const Case cases[] = {
      {"source gone", [](Fs& fs) { fs.onCreateOutput = [&fs] { fs.remove("src/f"); }; }, 1,
       ".Error open file src/f\n", "No such file or directory"},
      {"read error", [](Fs& fs) { fs.failReadAfter["src/f"] = kBlock; }, 1, ".Error read file src/f\n",
       "Input/output error"},
      {"file grew", changeLater(std::string(9000, 'g')), 3, ".Error file src/f changed size during the build.\n",
       "it had 3000 bytes when the tree was read and has 9000 now"},
      {"empty file grew", [](Fs& fs) { fs.setContent("src/f", ""), changeLater("new")(fs); }, 0,
       ".Error file src/f changed size during the build.\n", "it had 0 bytes when the tree was read and has 3 now"},
      {"short root block", [](Fs& fs) { fs.shortWrite = {{3 * kBlock, 0}}; }, 3},
      {"short filler", [](Fs& fs) { fs.shortWrite = {{4 * kBlock, 0}}; }, 4},
      {"short second label", [](Fs& fs) { fs.shortWrite = {{225 * kBlock, 0}}; }, 225},
      {"failed close", [](Fs& fs) { fs.failCommit = true; }, 226},
  };
  for (const Case& c : cases) {
    FakeFileSystem fs;
    fs.addFile("src/f", std::string(3000, 'f'));
    fs.pipeOutput = true;
    c.setup(fs);
    const BuildRun run = buildInMemory(fs, {"-ra", "1", "-da", "1"});
    EXPECT_EQ(run.status, 255) << c.name;
    EXPECT_EQ(run.text, kBanner + kWrite + c.text) << c.name;
    EXPECT_EQ(run.errors, because(c.reason)) << c.name;
    EXPECT_EQ(run.image.size(), c.blocks * kBlock) << c.name;
    std::uint64_t end = 0;
    for (const auto& write : fs.writes) end = write.offset == end ? end + write.size : UINT64_MAX;
    EXPECT_EQ(end, run.image.size()) << c.name;
  }
}

// Input that is ignored is warned of, once, on standard error, and the build
// goes on; a quiet build says nothing. The output file found in the tree is
// left out of it, so a second build into the tree gives the first one's image.
TEST(BuildTest, IgnoredInputIsWarnedOf) {
  FakeFileSystem fs;
  const std::pair<std::string, std::string> files[] = {
      {"f", "f"},       {"#f", "300 abc 500"}, {"g", "g"},     {"#g", "1 2 3 4\t5 6 7 8\r\n9 10\n"},
      {"#gone", "400"}, {"Dir/x", "x"}, {"#Dir", "500"}, {"h", "h"}, {"#h", "700 " + std::string(41, 'w')},
      {"e", ""}, {"#e", "none"}};  // an empty file takes even unset positions
  for (const auto& [path, content] : files) fs.addFile("src/" + path, content);
  const BuildRun first = buildInMemory(fs, {"stray", "-out", "src/Dir/out.iso"});
  EXPECT_EQ(first.status, 0) << first.text;
  EXPECT_EQ(first.errors,
            "vornel: warning: ignored the argument \"stray\", which is no option\n"
            "vornel: warning: src/#e: ignored \"none\": reading stops at the first word that is not a number\n"
            "vornel: warning: src/#f: ignored \"abc 500\": reading stops at the first word that is not a number\n"
            "vornel: warning: src/#g: ignored \"9 10\": a placement file holds at most 8 numbers\n"
            "vornel: warning: src/#h: ignored \"" + std::string(37, 'w') +
                "...\": reading stops at the first word that is not a number\n"
            "vornel: warning: ignored src/#Dir: Dir is a directory, and only files are placed at fixed blocks\n"
            "vornel: warning: ignored src/#gone: gone is no file of the tree\n");
  fs.addFile("src/Dir/out.iso", first.image);
  const BuildRun second = buildInMemory(fs, {"-q", "-out", "src/Dir/out.iso"});
  EXPECT_TRUE(second.status == 0 && second.text.empty() && second.errors.empty() && second.image == first.image);
  const BuildRun third = buildInMemory(fs, {"-out", "src/Dir/out.iso"});
  EXPECT_TRUE(third.image == first.image && third.errors.find("vornel: warning: left out src/Dir/out.iso, which is "
                                                               "the output file\n") != std::string::npos);

  // A layout's entries that the tree lacks: one warning each, none for the
  // contents of a missing directory; a file listed as a directory is missing
  // too, and builds as a new entry. A file the layout places keeps its blocks
  // over its placement file.
  FakeFileSystem laidOut;
  laidOut.addFile("src/f", "f"), laidOut.addFile("src/h", "h"), laidOut.addFile("src/#h", "700");
  const std::string entry = R"(, "type": "    ", "blockCount": 1, "avatars": []},)";
  laidOut.addFile("layout.json", R"({"label": {"volumeLabel": "", "volumeComment": "", "volumeFlags": 0, "volumeId": 9,)"
                                 R"( "rootId": 2, "rootAvatars": [1]}, "entries": [)"
                                 "\n" R"({"path": "/", "kind": "directory", "id": 2)" + entry +
                                 "\n" R"({"path": "/h", "kind": "file", "id": 7, "type": "    ", "blockCount": 1,)"
                                 R"( "avatars": [5]},)" +
                                 "\n" R"({"path": "/f", "kind": "directory", "id": 3)" + entry +
                                 "\n" R"({"path": "/g", "kind": "file", "id": 4)" + entry +
                                 "\n" R"({"path": "/gone", "kind": "directory", "id": 5)" + entry +
                                 "\n" R"({"path": "/gone/x", "kind": "file", "id": 6)" + entry.substr(0, entry.size() - 1) + "]}");
  const BuildRun skipped = buildInMemory(laidOut, {"-layout", "layout.json"});
  EXPECT_EQ(skipped.status, 0) << skipped.text;
  EXPECT_EQ(skipped.errors,
            "vornel: warning: layout.json line 4: skipped /f, which is no directory of the tree\n"
            "vornel: warning: layout.json line 5: skipped /g, which is no file of the tree\n"
            "vornel: warning: layout.json line 6: skipped /gone, which is no directory of the tree\n"
            "vornel: warning: ignored src/#h: the layout places h itself\n");
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
  std::string lastError() const override { return fs.lastError(); }
  FileSystem& fs;
};

// Directories read ahead on a second thread change nothing: a failure deep
// in the last subtree, which the helper reads while the scan reads the
// first, shows exactly where the scan alone shows it, whether the helper is
// done with it or the scan waits for it.
TEST(BuildTest, ReadingAheadChangesNothing) {
  const Change cases[] = {
      [](Fs&) {},
      [](Fs& fs) { fs.failListing.insert("src/dl/e3"), fs.reasons["src/dl/e3"] = "Input/output error"; },
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
      EXPECT_TRUE(run.status == a.status && run.text == a.text && run.errors == a.errors && run.image == a.image)
          << i << run.text;
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
  EXPECT_EQ(console.errors(), because("out of memory"));
}

}  // namespace
}  // namespace vornel
