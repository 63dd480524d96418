#pragma once

#include <string>

#include "platform/file_system.h"
#include "platform/image_file.h"

namespace vornel {

// The output of one run: the result for standard output, the messages for
// standard error.
struct InspectOutput {
  std::string out;
  std::string err;
};

// vornel-inspect: lists, checks, compares or extracts an image; never
// changes it. Returns the exit status: 0 sound or same, 1 problems or
// differences found, 2 the job could not be done.
int runInspect(int argc, const char* const* argv, ImageHost& host, FileSystem& fs, InspectOutput& output);

}  // namespace vornel
