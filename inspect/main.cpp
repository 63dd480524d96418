#include <cstdio>

#include "inspect/inspect.h"
#include "platform/host.h"

int main(int argc, char** argv) {
  const auto commandLine = vornel::startHost(argc, argv);
  const auto host = vornel::newHostImageHost();
  const auto fs = vornel::newHostFileSystem();
  vornel::InspectOutput output;
  const int status = vornel::runInspect(commandLine->argc(), commandLine->argv(), *host, *fs, output);
  std::fwrite(output.out.data(), 1, output.out.size(), stdout);
  std::fflush(stdout);
  std::fwrite(output.err.data(), 1, output.err.size(), stderr);
  return status;
}
