#include "driver/build.h"

#include <new>

#include "format/directory_builder.h"
#include "format/records.h"
#include "layout/placement.h"
#include "tree/scanner.h"
#include "tree/source_tree.h"
#include "writer/image_writer.h"

namespace vornel {

namespace {

// Everything the build owns, released together at the end of the run.
struct BuildState {
  IdCounter ids;
  std::unique_ptr<DirNode> root;
  std::unique_ptr<PlacementList> placements;
  FreeBlocksPool pool;
  DiscLabel label;
};

int buildStages(const BuildOptions& options, BuildState& s, FileSystem& fs, FileSystem* helperFs, Console& console) {
  // The creation order fixes the ids: the root's block and the root, then
  // the five system records, then the scan, then the label.
  s.root = newDirNode(s.ids, options.dirAvatars);
  s.placements = std::make_unique<PlacementList>(s.ids);
  s.root->path = options.sourceDir;

  console.print("Now parsing source directory - ");
  ScanContext scan{fs, console, s.ids, *s.placements, options.dirAvatars, fs.stat(options.outputPath), options.order,
                   helperFs};
  if (scanDirectory(*s.root, scan) != 0) return -1;
  console.print("Done.\n");

  s.pool.clear();
  reserveLabelBlocks(s.pool, initDiscLabel(s.label, options.volumeLabel, s.ids));
  console.print("Disc label avatars placed successfully.\n");

  if (placeSystemFiles(*s.placements, *s.root, s.pool, console) != 0) return -1;
  console.print("System files avatars placed successfully.\n");

  if (placeFiles(*s.root, s.pool, console) != 0) return -1;
  console.print("Other files avatars placed successfully.\n");

  // Directory sizes are final only once every entry is written, and only
  // then can the directories be placed and their entries completed.
  if (buildDirectories(*s.root, options.dirAvatars, s.ids) != 0) return -1;
  s.root->lastAvatar = options.rootAvatars - 1;
  if (placeDirectories(*s.root, s.pool, console) != 0) return -1;
  finishDirectories(*s.root);
  completeDiscLabel(s.label, *s.root, options.rootAvatars, s.pool.highestUsedBlock());

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
  console.print("\nvornel " VORNEL_VERSION " - disc image builder\n\n");
  // Running out of memory anywhere, the command line included, ends the
  // run with one message.
  try {
    const CommandLine commandLine = parseOptions(argc, argv, console, fs.separator());
    switch (commandLine.action) {
      case CommandLine::Action::Help:
      case CommandLine::Action::Version:
        return 0;
      case CommandLine::Action::Fail:
        return 255;
      case CommandLine::Action::Build:
        break;
    }
    return runBuild(commandLine.options, fs, helperFs, console) == 0 ? 0 : 255;
  } catch (const std::bad_alloc&) {
    console.print("Internal error.\n");
    return 255;
  }
}

}  // namespace vornel
