#include "platform/host.h"

#include <utility>

namespace vornel {

HostCommandLine::HostCommandLine(std::vector<std::string> arguments) : arguments_(std::move(arguments)) {
  for (const std::string& argument : arguments_) pointers_.push_back(argument.c_str());
  pointers_.push_back(nullptr);
}

}  // namespace vornel
