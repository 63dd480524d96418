#include "driver/options.h"

#include <cstdint>
#include <string>
#include <string_view>

#include "tree/source_tree.h"

namespace vornel {

namespace {

// Decimal value of the leading digits, as atoi reads it (leading white
// space, an optional sign), but saturated instead of overflowing.
long long leadingNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (value < (std::int64_t{1} << 40)) value = value * 10 + (text[i] - '0');
  }
  return negative ? -value : value;
}

bool avatarCountValid(long long count) { return count >= 1 && count <= kAvatarSlots; }

}  // namespace

void printUsage(Console& console) {
  console.printAlways("Usage:\n");
  console.printAlways("\tvornel [options] -in <source directory> -out <output file> \n");
  console.printAlways("\n\tOptions:\n");
  console.printAlways("\t\t-vl <volume label>\n");
  console.printAlways("\t\t-ra <##> root avatars count\n");
  console.printAlways("\t\t-da <##> directory avatars count\n");
  console.printAlways("\t\t-order <name|disk> directory entry order\n");
}

CommandLine parseOptions(int argc, const char* const* argv, Console& console, char separator) {
  CommandLine result;
  BuildOptions& options = result.options;
  // A bad command line: its message (none when the usage text is the
  // message), why, then the usage text where the message calls for it.
  const auto failed = [&](std::string_view message, const std::string& reason, bool usage) {
    if (!message.empty()) console.printAlways(message);
    if (usage) printUsage(console);
    explain(console, reason);
    return result;
  };
  bool haveSource = false;
  bool haveOutput = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    // Help and version decide wherever the parser meets them, and nothing
    // is built; an option's value is never one of them.
    for (std::string_view help : {"-h", "-help", "--help"}) {
      if (equalsIgnoreCase(arg, help)) {
        printUsage(console);
        result.action = CommandLine::Action::Help;
        return result;
      }
    }
    if (equalsIgnoreCase(arg, "-version") || equalsIgnoreCase(arg, "--version")) {
      result.action = CommandLine::Action::Version;
      return result;
    }
    if (equalsIgnoreCase(arg, "-s")) {
      options.sFlag = true;
      continue;
    }
    if (equalsIgnoreCase(arg, "-q")) {
      options.quiet = true;
      continue;
    }
    static constexpr std::string_view kWithValue[] = {"-in", "-out", "-mf", "-da", "-rd", "-ra", "-vl", "-order",
                                                       "-layout"};
    std::string_view option;
    for (std::string_view candidate : kWithValue) {
      if (equalsIgnoreCase(arg, candidate)) option = candidate;
    }
    if (option.empty()) {
      warn(console, "ignored the argument \"" + std::string(arg) + "\", which is no option");
      continue;
    }
    if (i + 1 >= argc) return failed("", std::string(option) + " needs a value after it", true);
    const std::string value = argv[++i];
    const std::string quoted = "\"" + value + "\"";
    if (option == "-in") {
      // An empty value counts as none (it replaces nothing), so that an unset
      // variable in a build script never makes the tool scan the host from its root.
      if (value.empty()) continue;
      options.sourceDir = value.back() == separator ? value : value + separator;
      haveSource = true;
    } else if (option == "-out") {
      options.outputPath = value;
      haveOutput = true;
    } else if (option == "-mf") {
      options.mfValue = value;
    } else if (option == "-rd") {
      options.rdValue = value;
    } else if (option == "-da") {
      const long long count = leadingNumber(value);
      if (!avatarCountValid(count)) {
        return failed("Error directory avatars count value.\n", "-da takes a count from 1 to 8, not " + quoted, true);
      }
      options.dirAvatars = static_cast<int>(count);
      options.dirAvatarsGiven = true;
    } else if (option == "-ra") {
      const long long count = leadingNumber(value);
      if (!avatarCountValid(count)) {
        return failed("Error root avatars count value.\n", "-ra takes a count from 1 to 8, not " + quoted, false);
      }
      options.rootAvatars = static_cast<int>(count);
      options.rootAvatarsGiven = true;
    } else if (option == "-vl") {
      if (value.size() >= 32) {
        return failed("Volume label more then 32 symbols.\n\n",
                      "the volume label has " + std::to_string(value.size()) + " bytes; at most 31 fit", false);
      }
      options.volumeLabel = value;
      options.volumeLabelGiven = true;
    } else if (option == "-layout") {
      options.layoutPath = value;
    } else if (option == "-order") {
      if (equalsIgnoreCase(value, "name")) {
        options.order = EntryOrder::Name;
      } else if (equalsIgnoreCase(value, "disk")) {
        options.order = EntryOrder::Disk;
      } else {
        return failed("", "-order takes name or disk, not " + quoted, true);
      }
    }
  }
  if (!haveSource) {
    return failed("Source directory not specified.\n\n", "the command line names no source directory (-in)", true);
  }
  if (!haveOutput) {
    return failed("Output file not specified.\n\n", "the command line names no output file (-out)", true);
  }
  result.action = CommandLine::Action::Build;
  return result;
}

}  // namespace vornel
