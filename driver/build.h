#pragma once

#include "driver/options.h"
#include "platform/console.h"
#include "platform/file_system.h"

namespace vornel {

// The program: banner, command line, build. Returns the process exit status,
// 0 on success (and for help or the version), 255 on any failure. With a
// helper file system (a second view of fs), directories are read ahead of
// the scan on a second thread.
int runMain(int argc, const char* const* argv, FileSystem& fs, Console& console, FileSystem* helperFs = nullptr);

}  // namespace vornel
