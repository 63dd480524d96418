#include "inspect/inspect.h"

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
  Inspector(ImageHost& host, FileSystem& fs, InspectOutput& output) : host_(host), fs_(fs), o_(output) {}

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
        o_.out += r.mode == Mode::Json ? listJson(tree) : listText(tree);
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
    o_.err += "vornel-inspect: " + message + "\n";
    return kTrouble;
  }

  // The problems met while reading, on standard error.
  int reportProblems(const ImageTree& tree, const std::string& image) {
    for (const ImageProblem& p : tree.problems) {
      o_.err += "vornel-inspect: " + image + ": " + escapeText(describe(p)) + "\n";
    }
    return tree.problemCount == 0 ? kSound : kFound;
  }

  int check(const ImageTree& tree) {
    for (const ImageProblem& p : tree.problems) o_.out += escapeText(describe(p)) + "\n";
    if (tree.problemCount > tree.problems.size()) {
      o_.out += "and " + std::to_string(tree.problemCount - tree.problems.size()) + " more problems\n";
    }
    if (tree.problemCount == 0) {
      o_.out += "image is sound\n";
      return kSound;
    }
    o_.out += std::to_string(tree.problemCount) + (tree.problemCount == 1 ? " problem\n" : " problems\n");
    return kFound;
  }

  int compare(const ImageTree& tree, ImageFile& image, std::string dir) {
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    if (fs_.stat(dir).kind != FileKind::Directory) return trouble(dir + " is not a directory");
    const std::vector<std::string> differences = compareWithTree(fs_, dir, tree, image);
    for (const std::string& line : differences) o_.out += escapeText(line) + "\n";
    if (differences.empty()) o_.out += "same\n";
    return differences.empty() ? kSound : kFound;
  }

  int extract(const ImageTree& tree, ImageFile& image, const std::string& dir, const std::string& imagePath) {
    std::string error;
    const auto target = host_.openExtractRoot(dir, error);
    if (target == nullptr) return trouble(error);
    const ExtractResult result = extractImage(tree, image, *target);
    for (const std::string& line : result.skipped) o_.err += "vornel-inspect: skipped " + escapeText(line) + "\n";
    o_.out += "extracted " + std::to_string(result.directories) + " directories and " + std::to_string(result.files) +
              " files to " + dir + "\n";
    if (result.aborted) return kTrouble;
    const int problems = reportProblems(tree, imagePath);
    return result.skipped.empty() ? problems : kFound;
  }

  ImageHost& host_;
  FileSystem& fs_;
  InspectOutput& o_;
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

}  // namespace

int runInspect(int argc, const char* const* argv, ImageHost& host, FileSystem& fs, InspectOutput& output) {
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--help" || std::string_view(argv[i]) == "-h") {
      output.out += kUsage;
      return kSound;
    }
  }
  Request request;
  std::string error;
  if (!parse(argc, argv, request, error)) {
    output.err += "vornel-inspect: " + error + "\n" + kUsage;
    return kTrouble;
  }
  return Inspector(host, fs, output).run(request);
}

}  // namespace vornel
