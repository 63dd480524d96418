#pragma once

#include "driver/options.h"
#include "platform/console.h"
#include "platform/file_system.h"

namespace vornel {

// Runs the whole build: scan, layout, directories, image. Returns 0 when the
// image was written completely, -1 on the first failure (its message has
// been printed).
int runBuild(const BuildOptions& options, FileSystem& fs, Console& console);

// The program: banner, command line, build. Returns the process exit status,
// 0 on success and 255 on any failure.
int runMain(int argc, const char* const* argv, FileSystem& fs, Console& console);

}  // namespace vornel
