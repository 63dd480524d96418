#include "inspect/inspect.h"
#include "platform/host.h"
#include "platform/stdio_console.h"

int main(int argc, char** argv) {
  const auto commandLine = vornel::startHost(argc, argv);
  const auto host = vornel::newHostImageHost();
  const auto fs = vornel::newHostFileSystem();
  vornel::StdioConsole console;
  return vornel::runInspect(commandLine->argc(), commandLine->argv(), *host, *fs, console);
}
