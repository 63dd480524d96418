#pragma once

// Images built in-process from trees on the fake file system.

#include <gtest/gtest.h>

#include "driver/test_build.h"

namespace vornel {

inline std::string buildImage(FakeFileSystem& fs, const std::vector<std::string>& options) {
  const BuildRun run = buildInMemory(fs, options);
  EXPECT_EQ(run.status, 0) << run.text;
  return run.image;
}

// A small tree, added in name order so that any entry order of the build gives
// the same image. Built with -ra 2 -da 2: the label at 0 and 225, data.bin at 1
// to 3, level1.map at 4, the root at 5 and 69 (readme.txt's entry at offset 168,
// data's at 244), data at 6 and 70, readme.txt where its placement file puts it.
inline std::string knownImage(FakeFileSystem& fs, std::string readme = "Read me: a disc for the tests.") {
  fs.addDirectory("src");
  fs.addFile("src/#readme.txt", "300 500");
  fs.addDirectory("src/data");
  fs.addFile("src/data/data.bin", std::string(5000, 'd'));
  fs.addFile("src/data/level1.map", "level one!");
  fs.addFile("src/empty", "");
  fs.addFile("src/readme.txt", std::move(readme));
  return buildImage(fs, {"-ra", "2", "-da", "2"});
}

}  // namespace vornel
