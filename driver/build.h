#pragma once

#include "driver/options.h"
#include "platform/console.h"
#include "platform/file_system.h"

namespace vornel {

// The program: banner, command line, build. Returns the process exit status,
// 0 on success (and for help or the version), 255 on any failure.
int runMain(int argc, const char* const* argv, FileSystem& fs, Console& console);

}  // namespace vornel
