// Fuzz target for the command line parser. The input is split at zero bytes
// into the arguments that follow argv[0] ("vornel"): n zero bytes give n + 1
// arguments, and an empty input gives none. Whatever the arguments, the
// parser ends with options a build can use, or with one of its own texts.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "driver/options.h"
#include "platform/fake_console.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args;
  for (std::size_t i = 0; i < size; ++i) {
    if (i == 0 || data[i - 1] == 0) args.emplace_back();
    if (data[i] != 0) args.back() += static_cast<char>(data[i]);
  }
  if (size > 0 && data[size - 1] == 0) args.emplace_back();
  std::vector<const char*> argv{"vornel"};
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  argv.push_back(nullptr);

  vornel::StringConsole usage;
  vornel::printUsage(usage);
  const std::string& u = usage.text();
  vornel::StringConsole console;
  const vornel::CommandLine result = vornel::parseOptions(static_cast<int>(args.size() + 1), argv.data(), console);
  const std::string& text = console.text();
  bool sound = false;
  if (result.action == vornel::CommandLine::Action::Build) {
    const vornel::BuildOptions& o = result.options;
    sound = text.empty() && !o.sourceDir.empty() && o.sourceDir.back() == '/' && o.dirAvatars >= 1 &&
            o.dirAvatars <= 8 && o.rootAvatars >= 1 && o.rootAvatars <= 8 && o.volumeLabel.size() < 32;
  } else if (result.action == vornel::CommandLine::Action::Version) {
    sound = text.empty();
  } else {
    for (const std::string& known :
         {u, "Error directory avatars count value.\n" + u, std::string("Error root avatars count value.\n"),
          std::string("Volume label more then 32 symbols.\n\n"), "Source directory not specified.\n\n" + u,
          "Output file not specified.\n\n" + u}) {
      sound = sound || text == known;
    }
  }
  if (!sound) __builtin_trap();
  return 0;
}
