#include "inspect/inspect.h"
#include "platform/posix_file_system.h"
#include "platform/stdio_console.h"

int main(int argc, char** argv) {
  vornel::PosixImageHost host;
  vornel::PosixFileSystem fs;
  vornel::StdioConsole console;
  return vornel::runInspect(argc, argv, host, fs, console);
}
