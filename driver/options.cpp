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
  console.print("\tvornel.exe [options] -in <source directory> -out <output file> \n");
  console.print("\n\tOptions:\n");
  console.print("\t\t-vl <volume label>\n");
  console.print("\t\t-ra <##> root avatars count\n");
  console.print("\t\t-da <##> directory avatars count\n");
}

std::optional<BuildOptions> parseOptions(int argc, const char* const* argv, Console& console) {
  BuildOptions options;
  bool haveSource = false;
  bool haveOutput = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (equalsIgnoreCase(arg, "-s")) {
      options.sFlag = true;
      continue;
    }
    static constexpr std::string_view kWithValue[] = {"-in", "-out", "-mf", "-da", "-rd", "-ra", "-vl"};
    std::string_view option;
    for (std::string_view candidate : kWithValue) {
      if (equalsIgnoreCase(arg, candidate)) option = candidate;
    }
    if (option.empty()) continue;  // an argument that matches no option is skipped
    if (i + 1 >= argc) {
      printUsage(console);
      return std::nullopt;
    }
    const std::string value = argv[++i];
    if (option == "-in") {
      options.sourceDir = value;
      if (options.sourceDir.empty() || options.sourceDir.back() != '/') options.sourceDir += '/';
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
        printUsage(console);
        return std::nullopt;
      }
      options.dirAvatars = static_cast<int>(count);
    } else if (option == "-ra") {
      const long long count = leadingNumber(value);
      if (!avatarCountValid(count)) {
        console.print("Error root avatars count value.\n");
        return std::nullopt;
      }
      options.rootAvatars = static_cast<int>(count);
    } else if (option == "-vl") {
      if (value.size() >= 32) {
        console.print("Volume label more then 32 symbols.\n\n");
        return std::nullopt;
      }
      options.volumeLabel = value;
    }
  }
  if (!haveSource) {
    console.print("Source directory not specified.\n\n");
    printUsage(console);
    return std::nullopt;
  }
  if (!haveOutput) {
    console.print("Output file not specified.\n\n");
    printUsage(console);
    return std::nullopt;
  }
  return options;
}

}  // namespace vornel
