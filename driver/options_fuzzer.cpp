// Fuzz target for the command line parser. The input is split at zero bytes
// into the arguments that follow argv[0] ("vornel"): n zero bytes give n + 1
// arguments, and an empty input gives none. The result is checked against its
// invariants and against a small independent model of the option rules.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/fake_console.h"
#include "driver/options.h"
#include "platform/console.h"

namespace {

// The usage text's wording is checked by the command-line tests; here it
// only has to appear where the rules put it.
const std::string kUsage = [] {
  vornel::StringConsole console;
  vornel::printUsage(console);
  return console.text();
}();
const std::string kDirAvatarsError = "Error directory avatars count value.\n";
const std::string kRootAvatarsError = "Error root avatars count value.\n";
const std::string kLabelError = "Volume label more then 32 symbols.\n\n";
const std::string kNoSource = "Source directory not specified.\n\n";
const std::string kNoOutput = "Output file not specified.\n\n";

void check(bool condition) {
  if (!condition) __builtin_trap();
}

std::string lower(const std::string& text) {
  std::string result = text;
  for (char& c : result) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return result;
}

// The count when the value, read as atoi reads it (leading white space, a
// sign, digits), is from 1 to 8; otherwise 0. Leading zeros do not change the
// value; more than one significant digit makes it at least 10.
int countInRange(const std::string& value) {
  std::size_t i = 0;
  while (i < value.size() && (value[i] == ' ' || (value[i] >= '\t' && value[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < value.size() && (value[i] == '+' || value[i] == '-')) negative = value[i++] == '-';
  while (i < value.size() && value[i] == '0') ++i;
  std::size_t digits = 0;
  int first = 0;
  for (std::size_t k = i; k < value.size() && value[k] >= '0' && value[k] <= '9'; ++k) {
    if (digits == 0) first = value[k] - '0';
    ++digits;
  }
  return !negative && digits == 1 && first >= 1 && first <= 8 ? first : 0;
}

// The model's answer: the action, the options of a build, and the exact
// console text.
using Action = vornel::CommandLine::Action;
struct Outcome {
  Action action;
  vornel::BuildOptions options;
  std::string text;
};

Outcome failure(const std::string& text) { return {Action::Fail, {}, text}; }

Outcome model(const std::vector<std::string>& args) {
  vornel::BuildOptions options;
  bool haveSource = false;
  bool haveOutput = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string name = lower(args[i]);
    if (name == "-h" || name == "-help" || name == "--help") return {Action::Help, {}, kUsage};
    if (name == "-version" || name == "--version") return {Action::Version, {}, ""};
    if (name == "-s") {
      options.sFlag = true;
      continue;
    }
    if (name != "-in" && name != "-out" && name != "-mf" && name != "-da" && name != "-rd" && name != "-ra" &&
        name != "-vl" && name != "-order") {
      continue;
    }
    if (i + 1 >= args.size()) return failure(kUsage);
    const std::string& value = args[++i];
    if (name == "-in") {
      if (value.empty()) continue;  // counts as no -in at all
      options.sourceDir = value.back() != '/' ? value + "/" : value;
      haveSource = true;
    } else if (name == "-out") {
      options.outputPath = value;
      haveOutput = true;
    } else if (name == "-mf") {
      options.mfValue = value;
    } else if (name == "-rd") {
      options.rdValue = value;
    } else if (name == "-da") {
      options.dirAvatars = countInRange(value);
      if (options.dirAvatars == 0) return failure(kDirAvatarsError + kUsage);
    } else if (name == "-ra") {
      options.rootAvatars = countInRange(value);
      if (options.rootAvatars == 0) return failure(kRootAvatarsError);
    } else if (name == "-vl") {
      if (value.size() >= 32) return failure(kLabelError);
      options.volumeLabel = value;
    } else if (name == "-order") {
      const std::string order = lower(value);
      if (order != "name" && order != "disk") return failure(kUsage);
      options.order = order == "name" ? vornel::EntryOrder::Name : vornel::EntryOrder::Disk;
    }
  }
  if (!haveSource) return failure(kNoSource + kUsage);
  if (!haveOutput) return failure(kNoOutput + kUsage);
  return {Action::Build, options, ""};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args;
  if (size > 0) {
    args.emplace_back();
    for (std::size_t i = 0; i < size; ++i) {
      if (data[i] == 0) {
        args.emplace_back();
      } else {
        args.back() += static_cast<char>(data[i]);
      }
    }
  }
  std::vector<const char*> argv{"vornel"};
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  argv.push_back(nullptr);

  vornel::StringConsole console;
  const vornel::CommandLine result = vornel::parseOptions(static_cast<int>(args.size() + 1), argv.data(), console);
  const std::string& text = console.text();
  if (result.action == Action::Build) {
    const vornel::BuildOptions& options = result.options;
    check(!options.sourceDir.empty() && options.sourceDir.back() == '/');
    check(options.dirAvatars >= 1 && options.dirAvatars <= 8);
    check(options.rootAvatars >= 1 && options.rootAvatars <= 8);
    check(options.volumeLabel.size() < 32);
    check(text.empty());
  } else {
    check(text == kUsage || text.empty() == (result.action == Action::Version));
    check(text == kUsage || text == kDirAvatarsError + kUsage || text == kRootAvatarsError || text == kLabelError ||
          text == kNoSource + kUsage || text == kNoOutput + kUsage || result.action == Action::Version);
  }
  const Outcome expected = model(args);
  check(result.action == expected.action);
  check(text == expected.text);
  if (result.action == Action::Build) {
    const vornel::BuildOptions& options = result.options;
    const vornel::BuildOptions& want = expected.options;
    check(options.sourceDir == want.sourceDir);
    check(options.outputPath == want.outputPath);
    check(options.volumeLabel == want.volumeLabel);
    check(options.dirAvatars == want.dirAvatars);
    check(options.rootAvatars == want.rootAvatars);
    check(options.order == want.order);
    check(options.mfValue == want.mfValue);
    check(options.rdValue == want.rdValue);
    check(options.sFlag == want.sFlag);
  }
  return 0;
}
