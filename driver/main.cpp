#include "driver/build.h"
#include "platform/posix_file_system.h"
#include "platform/stdout_console.h"

int main(int argc, char** argv) {
  vornel::PosixFileSystem fs;
  vornel::PosixFileSystem helperFs;  // the same files, with its own open folder, for reading ahead
  vornel::StdoutConsole console;
  return vornel::runMain(argc, argv, fs, console, &helperFs);
}
