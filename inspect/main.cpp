#include <cstdio>

#include "inspect/inspect.h"
#include "platform/posix_file_system.h"

int main(int argc, char** argv) {
  vornel::PosixImageHost host;
  vornel::PosixFileSystem fs;
  vornel::InspectOutput output;
  const int status = vornel::runInspect(argc, argv, host, fs, output);
  std::fwrite(output.out.data(), 1, output.out.size(), stdout);
  std::fflush(stdout);
  std::fwrite(output.err.data(), 1, output.err.size(), stderr);
  return status;
}
