#include "driver/build.h"
#include "platform/host.h"
#include "platform/stdout_console.h"

int main(int argc, char** argv) {
  const auto commandLine = vornel::startHost(argc, argv);
  const auto fs = vornel::newHostFileSystem();
  const auto helperFs = vornel::newHostFileSystem();  // the same files, with its own open folder, for reading ahead
  vornel::StdoutConsole console;
  return vornel::runMain(commandLine->argc(), commandLine->argv(), *fs, console, helperFs.get());
}
