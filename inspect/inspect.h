#pragma once

#include <string>

#include "platform/file_system.h"
#include "platform/image_file.h"
#include "platform/stdio_console.h"

namespace vornel {

// vornel-inspect: lists, checks, compares or extracts an image; never
// changes it. Returns the exit status: 0 sound or same, 1 problems or
// differences found, 2 the job could not be done (running out of memory
// included, and output that could not be written). Results go to the
// console's standard output, messages to its standard error, each as soon as
// it is made; the console is finished before the status is returned.
int runInspect(int argc, const char* const* argv, ImageHost& host, FileSystem& fs, CheckedConsole& console);

}  // namespace vornel
