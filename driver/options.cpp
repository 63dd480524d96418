#include "driver/options.h"

#include <cstdint>
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
  console.print("Usage:\n");
  console.print("\tvornel [options] -in <source directory> -out <output file> \n");
  console.print("\n\tOptions:\n");
  console.print("\t\t-vl <volume label>\n");
  console.print("\t\t-ra <##> root avatars count\n");
  console.print("\t\t-da <##> directory avatars count\n");
  console.print("\t\t-order <name|disk> directory entry order\n");
}

CommandLine parseOptions(int argc, const char* const* argv, Console& console, char separator) {
  CommandLine result;
  BuildOptions& options = result.options;
  const auto usageError = [&console] {
    printUsage(console);
    return CommandLine{};
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
        return {CommandLine::Action::Help, {}};
      }
    }
    if (equalsIgnoreCase(arg, "-version") || equalsIgnoreCase(arg, "--version")) {
      return {CommandLine::Action::Version, {}};
    }
    if (equalsIgnoreCase(arg, "-s")) {
      options.sFlag = true;
      continue;
    }
    static constexpr std::string_view kWithValue[] = {"-in", "-out", "-mf", "-da", "-rd", "-ra", "-vl", "-order"};
    std::string_view option;
    for (std::string_view candidate : kWithValue) {
      if (equalsIgnoreCase(arg, candidate)) option = candidate;
    }
    if (option.empty()) continue;  // an argument that matches no option is skipped
    if (i + 1 >= argc) return usageError();
    const std::string value = argv[++i];
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
        console.print("Error directory avatars count value.\n");
        return usageError();
      }
      options.dirAvatars = static_cast<int>(count);
    } else if (option == "-ra") {
      const long long count = leadingNumber(value);
      if (!avatarCountValid(count)) {
        console.print("Error root avatars count value.\n");
        return CommandLine{};
      }
      options.rootAvatars = static_cast<int>(count);
    } else if (option == "-vl") {
      if (value.size() >= 32) {
        console.print("Volume label more then 32 symbols.\n\n");
        return CommandLine{};
      }
      options.volumeLabel = value;
    } else if (option == "-order") {
      if (equalsIgnoreCase(value, "name")) {
        options.order = EntryOrder::Name;
      } else if (equalsIgnoreCase(value, "disk")) {
        options.order = EntryOrder::Disk;
      } else {
        return usageError();
      }
    }
  }
  if (!haveSource) {
    console.print("Source directory not specified.\n\n");
    return usageError();
  }
  if (!haveOutput) {
    console.print("Output file not specified.\n\n");
    return usageError();
  }
  result.action = CommandLine::Action::Build;
  return result;
}

}  // namespace vornel
