#include "inspect/inspect.h"

#include <new>
#include <string_view>

#include "image/image_compare.h"
#include "inspect/listing.h"

namespace vornel {

namespace {

constexpr int kSound = 0;
constexpr int kFound = 1;
constexpr int kTrouble = 2;

const char kUsage[] =
    "usage: vornel-inspect [--json | --check] IMAGE\n"
    "       vornel-inspect --compare DIR IMAGE\n"
    "       vornel-inspect --extract DIR IMAGE\n";

enum class Mode { List, Json, Check, Compare, Extract };

struct Request {
  Mode mode = Mode::List;
  std::string dir;
  std::string image;
};

class Inspector {
 public:
  Inspector(ImageHost& host, FileSystem& fs, Console& console) : host_(host), fs_(fs), o_(console) {}

  int run(const Request& r) {
    std::string error;
    const auto image = host_.openImage(r.image, error);
    if (image == nullptr) return trouble(error);
    const ImageTree tree = readImage(*image, r.mode == Mode::Check);
    if (!tree.usable || tree.readError) {
      reportProblems(tree, r.image);
      return kTrouble;
    }
    switch (r.mode) {
      case Mode::List:
      case Mode::Json:
        r.mode == Mode::Json ? listJson(tree, o_) : listText(tree, o_);
        return reportProblems(tree, r.image);
      case Mode::Check:
        return check(tree);
      case Mode::Compare:
        return compare(tree, *image, r.dir);
      case Mode::Extract:
        break;
    }
    return extract(tree, *image, r.dir, r.image);
  }

 private:
  int trouble(const std::string& message) {
    o_.error("vornel-inspect: " + message + "\n");
    return kTrouble;
  }

  // The problems met while reading, on standard error.
  int reportProblems(const ImageTree& tree, const std::string& image) {
    for (const ImageProblem& p : tree.problems) {
      o_.error("vornel-inspect: " + image + ": " + escapeText(describe(p)) + "\n");
    }
    return tree.problemCount == 0 ? kSound : kFound;
  }

  int check(const ImageTree& tree) {
    for (const ImageProblem& p : tree.problems) o_.print(escapeText(describe(p)) + "\n");
    if (tree.problemCount > tree.problems.size()) {
      o_.print("and " + std::to_string(tree.problemCount - tree.problems.size()) + " more problems\n");
    }
    if (tree.problemCount == 0) {
      o_.print("image is sound\n");
      return kSound;
    }
    o_.print(std::to_string(tree.problemCount) + (tree.problemCount == 1 ? " problem\n" : " problems\n"));
    return kFound;
  }

  int compare(const ImageTree& tree, ImageFile& image, std::string dir) {
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    if (fs_.stat(dir).kind != FileKind::Directory) return trouble(dir + " is not a directory");
    const std::vector<std::string> differences = compareWithTree(fs_, dir, tree, image);
    for (const std::string& line : differences) o_.print(escapeText(line) + "\n");
    if (differences.empty()) o_.print("same\n");
    return differences.empty() ? kSound : kFound;
  }

  int extract(const ImageTree& tree, ImageFile& image, const std::string& dir, const std::string& imagePath) {
    std::string error;
    const auto target = host_.openExtractRoot(dir, error);
    if (target == nullptr) return trouble(error);
    const ExtractResult result = extractImage(tree, image, *target);
    for (const std::string& line : result.skipped) o_.error("vornel-inspect: skipped " + escapeText(line) + "\n");
    o_.print("extracted " + std::to_string(result.directories) + " directories and " + std::to_string(result.files) +
             " files to " + dir + "\n");
    const int problems = reportProblems(tree, imagePath);
    return result.skipped.empty() ? problems : kFound;
  }

  ImageHost& host_;
  FileSystem& fs_;
  Console& o_;
};

// Parses the command line; false with a message for a usage error.
bool parse(int argc, const char* const* argv, Request& r, std::string& error) {
  std::vector<std::string_view> args(argv + 1, argv + argc);
  if (!args.empty() && args[0].starts_with("--")) {
    const std::string_view option = args[0];
    if (option == "--json") {
      r.mode = Mode::Json;
    } else if (option == "--check") {
      r.mode = Mode::Check;
    } else if (option == "--compare") {
      r.mode = Mode::Compare;
    } else if (option == "--extract") {
      r.mode = Mode::Extract;
    } else {
      error = "unknown option " + std::string(option);
      return false;
    }
    args.erase(args.begin());
  }
  const bool withDir = r.mode == Mode::Compare || r.mode == Mode::Extract;
  if (args.size() != (withDir ? 2u : 1u)) {
    error = withDir ? "expected a folder and an image" : "expected one image";
    return false;
  }
  if (withDir) r.dir = args[0];
  r.image = args.back();
  return true;
}

// The run's status, unless its output was lost.
int finish(CheckedConsole& console, int status) {
  std::string reason;
  if (console.finish(reason)) return status;
  console.error("vornel-inspect: cannot write the output: " + reason + "\n");
  return kTrouble;
}

}  // namespace

int runInspect(int argc, const char* const* argv, ImageHost& host, FileSystem& fs, CheckedConsole& console) {
  try {
    for (int i = 1; i < argc; ++i) {
      const std::string_view arg = argv[i];
      if (arg == "--help" || arg == "-h") {
        console.print(kUsage);
        return finish(console, kSound);
      }
      if (arg == "--version") {
        console.print("vornel-inspect 1.0\n");
        return finish(console, kSound);
      }
    }
    Request request;
    std::string error;
    if (!parse(argc, argv, request, error)) {
      console.error("vornel-inspect: " + error + "\n" + kUsage);
      return finish(console, kTrouble);
    }
    return finish(console, Inspector(host, fs, console).run(request));
  } catch (const std::bad_alloc&) {
    console.error("vornel-inspect: out of memory\n");
    return kTrouble;
  }
}

}  // namespace vornel
