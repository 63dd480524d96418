#include "driver/build.h"
#include "platform/posix_file_system.h"
#include "platform/stdout_console.h"

int main(int argc, char** argv) {
  vornel::PosixFileSystem fs;
  vornel::StdoutConsole console;
  return vornel::runMain(argc, argv, fs, console);
}
