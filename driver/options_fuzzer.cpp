// Fuzz target for the command line parser. The input is split at zero bytes
// into the arguments after "vornel". Whatever they are, the parser ends with
// options a build can use, or prints only when it does not build.

#include <cstdint>
#include <string>
#include <vector>

#include "driver/options.h"
#include "platform/fake_file_system.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args(size > 0 ? 1 : 0);
  for (std::size_t i = 0; i < size; ++i) {
    data[i] == 0 ? void(args.emplace_back()) : args.back().push_back(static_cast<char>(data[i]));
  }
  std::vector<const char*> argv{"vornel"};
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  argv.push_back(nullptr);
  vornel::StringConsole console;
  const vornel::CommandLine line = vornel::parseOptions(static_cast<int>(args.size() + 1), argv.data(), console);
  const vornel::BuildOptions& o = line.options;
  const bool build = line.action == vornel::CommandLine::Action::Build;
  if (build != console.text().empty() && line.action != vornel::CommandLine::Action::Version) __builtin_trap();
  if (build && (o.sourceDir.empty() || o.sourceDir.back() != '/' || o.dirAvatars < 1 || o.dirAvatars > 8 ||
                o.rootAvatars < 1 || o.rootAvatars > 8 || o.volumeLabel.size() >= 32)) {
    __builtin_trap();
  }
  return 0;
}
