#include "driver/build.h"

#include <new>
#include <string>
#include <utility>
#include <vector>

#include "format/directory_builder.h"
#include "format/records.h"
#include "layout/layout_apply.h"
#include "layout/placement.h"
#include "tree/scanner.h"
#include "tree/source_tree.h"
#include "writer/image_writer.h"

namespace vornel {

namespace {

// Where the text goes once the command line is read: a quiet run (-q) drops
// the progress text and the warnings, and with the image on standard output
// (-out -) the text of standard output goes to standard error instead.
// Nothing else of the build changes.
class RoutedConsole : public Console {
 public:
  RoutedConsole(Console& console, bool quiet, bool imageOnStdout)
      : console_(console), quiet_(quiet), imageOnStdout_(imageOnStdout) {}
  void print(std::string_view text) override {
    if (!quiet_) printAlways(text);
  }
  void printAlways(std::string_view text) override {
    imageOnStdout_ ? console_.error(text) : console_.printAlways(text);
  }
  void error(std::string_view text) override { console_.error(text); }
  void warning(std::string_view text) override {
    if (!quiet_) console_.warning(text);
  }

 private:
  Console& console_;
  bool quiet_;
  bool imageOnStdout_;
};

// Keeps what the command line parser prints until the parse says where it
// goes (quiet, or the image on standard output), then hands it on in order.
class HeldConsole : public Console {
 public:
  void print(std::string_view text) override { hold(&Console::print, text); }
  void error(std::string_view text) override { hold(&Console::error, text); }
  void printAlways(std::string_view text) override { hold(&Console::printAlways, text); }
  void warning(std::string_view text) override { hold(&Console::warning, text); }
  void passOn(Console& console) const {
    for (const auto& [stream, text] : held_) (console.*stream)(text);
  }

 private:
  using Stream = void (Console::*)(std::string_view);
  void hold(Stream stream, std::string_view text) { held_.emplace_back(stream, std::string(text)); }
  std::vector<std::pair<Stream, std::string>> held_;
};

// Everything the build owns, released together at the end of the run.
struct BuildState {
  IdCounter ids;
  std::unique_ptr<DirNode> root;
  std::unique_ptr<PlacementList> placements;
  FreeBlocksPool pool;
  DiscLabel label;
  LayoutDocument layout;
};

// Reads and checks the layout file of -layout, before anything is scanned.
int readLayout(const std::string& path, FileSystem& fs, Console& console, LayoutDocument& layout) {
  std::string text;
  const auto in = fs.openInput(path);
  long long got = in ? 1 : -1;
  for (std::uint8_t chunk[65536]; got > 0;) {
    got = in->read(chunk, sizeof chunk);
    if (got > 0) text.append(reinterpret_cast<const char*>(chunk), static_cast<std::size_t>(got));
  }
  if (got < 0) return fail(console, "Error read file " + path + "\n", in ? in->lastError() : fs.lastError());
  const LayoutError error = readLayoutDocument(text, layout);
  if (error.line == 0) return 0;
  return fail(console, "Error layout file " + path + ", line " + std::to_string(error.line) + ": expected " +
                           error.expected + ".\n",
              error.reason.empty() ? "a layout file is the listing that vornel-inspect --json writes" : error.reason);
}

int buildStages(const BuildOptions& options, BuildState& s, FileSystem& fs, FileSystem* helperFs, Console& console) {
  const bool haveLayout = !options.layoutPath.empty();
  if (haveLayout && readLayout(options.layoutPath, fs, console, s.layout) != 0) return -1;

  // The creation order fixes the ids: the root's block and the root, then
  // the five system records, then the scan, then the label.
  s.root = newDirNode(s.ids, options.dirAvatars);
  s.placements = std::make_unique<PlacementList>(s.ids);
  s.root->path = options.sourceDir;

  console.print("Now parsing source directory - ");
  // Standard output ("-") is no file of the tree.
  const FileInfo output = options.outputPath == "-" ? FileInfo{} : fs.stat(options.outputPath);
  ScanContext scan{fs, console, s.ids, *s.placements, options.dirAvatars, output, options.order, helperFs};
  if (scanDirectory(*s.root, scan) != 0) return -1;
  console.print("Done.\n");

  int rootAvatars = options.rootAvatars;
  AppliedLayout applied;
  if (haveLayout) {
    const AvatarCounts given{options.rootAvatarsGiven ? options.rootAvatars : 0,
                             options.dirAvatarsGiven ? options.dirAvatars : 0};
    applied = applyLayout(s.layout, options.layoutPath, *s.root, s.ids, given, console);
    if (!options.rootAvatarsGiven) rootAvatars = static_cast<int>(s.layout.rootAvatars.size());
  }

  s.pool.clear();
  std::int32_t labelId = initDiscLabel(s.label, options.volumeLabel, s.ids);
  if (haveLayout) {
    labelId = s.layout.volumeId;
    setLabelFields(s.label, options.volumeLabelGiven ? options.volumeLabel : s.layout.volumeLabel,
                   s.layout.volumeComment, s.layout.volumeFlags, labelId);
  }
  reserveLabelBlocks(s.pool, labelId);
  console.print("Disc label avatars placed successfully.\n");

  // What the layout pins stays where it is: the system files' and the
  // placement files' blocks are taken after it.
  if (placePinned(applied, s.pool, console) != 0) return -1;
  if (placeSystemFiles(*s.placements, *s.root, s.pool, console) != 0) return -1;
  console.print("System files avatars placed successfully.\n");

  if (placeFiles(*s.root, s.pool, console) != 0) return -1;
  console.print("Other files avatars placed successfully.\n");

  // Directory sizes are final only once every entry is written, and only
  // then can the directories be placed and their entries completed.
  if (buildDirectories(*s.root, s.ids) != 0) return -1;
  if (fitPinnedDirectories(applied, s.pool, console) != 0) return -1;
  s.root->lastAvatar = rootAvatars - 1;
  if (placeDirectories(*s.root, s.pool, console) != 0) return -1;
  finishDirectories(*s.root);
  completeDiscLabel(s.label, *s.root, rootAvatars, s.pool.highestUsedBlock());

  console.print("File system created successfully.\n");
  console.print("Now write ISO image to output file - ");
  return writeImage(options.outputPath, *s.root, s.pool, s.label, fs, console);
}

// The whole build: scan, layout, directories, image. 0 when the image was
// written completely, -1 on the first failure (its message has been printed).
int runBuild(const BuildOptions& options, FileSystem& fs, FileSystem* helperFs, Console& console) {
  auto state = std::make_unique<BuildState>();
  return buildStages(options, *state, fs, helperFs, console);
}

}  // namespace

int runMain(int argc, const char* const* argv, FileSystem& fs, Console& console, FileSystem* helperFs) {
  // Running out of memory anywhere, the command line included, ends the
  // run with one message.
  try {
    // The banner comes first, but whether and where it shows is known only
    // once the command line is read.
    HeldConsole parsed;
    const CommandLine commandLine = parseOptions(argc, argv, parsed, fs.separator());
    const BuildOptions& options = commandLine.options;
    RoutedConsole routed(console, options.quiet, options.outputPath == "-");
    if (commandLine.action == CommandLine::Action::Version) {
      // One line, so that `vornel --version | head -1` shows it.
      routed.printAlways("vornel " VORNEL_VERSION "\n");
      return 0;
    }
    routed.print("\nvornel " VORNEL_VERSION " - disc image builder\n\n");
    parsed.passOn(routed);
    switch (commandLine.action) {
      case CommandLine::Action::Help:
      case CommandLine::Action::Version:
        return 0;
      case CommandLine::Action::Fail:
        return 255;
      case CommandLine::Action::Build:
        break;
    }
    return runBuild(options, fs, helperFs, routed) == 0 ? 0 : 255;
  } catch (const std::bad_alloc&) {
    fail(console, "Internal error.\n", "out of memory");
    return 255;
  }
}

}  // namespace vornel
