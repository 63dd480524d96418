// Reads an image file and checks it whole with the image reader. Prints the
// number of files and directories; exits 1 with the reader's message on the
// first problem. With -markers, also checks that every non-empty file holds
// "<its path>\n" followed by zeros, as bench/largest_image.sh writes them.

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "writer/image_reader.h"

int main(int argc, char** argv) {
  const bool markers = argc == 3 && std::strcmp(argv[1], "-markers") == 0;
  if (argc != 2 && !markers) {
    std::fprintf(stderr, "usage: %s [-markers] IMAGE\n", argv[0]);
    return 2;
  }
  const char* path = argv[argc - 1];
  const int fd = ::open(path, O_RDONLY);
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0 || st.st_size == 0) {
    std::fprintf(stderr, "cannot open %s, or it is empty\n", path);
    return 1;
  }
  const auto size = static_cast<std::size_t>(st.st_size);
  void* data = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (data == MAP_FAILED) {
    std::fprintf(stderr, "cannot map %s\n", path);
    return 1;
  }
  vornel::ImageTree tree;
  const std::string problem = vornel::readImage(std::string_view(static_cast<const char*>(data), size), tree);
  if (!problem.empty()) {
    std::printf("image problem: %s\n", problem.c_str());
    return 1;
  }
  if (markers) {
    for (const auto& dir : tree.directories) {
      for (const auto& e : dir.entries) {
        if (e.kind() != 2 || e.content.empty()) continue;
        const std::string path = dir.path.empty() ? e.name : dir.path + "/" + e.name;
        const std::string expected = path + "\n";
        if (e.content.substr(0, expected.size()) != expected) {
          std::printf("file %s does not start with its marker\n", path.c_str());
          return 1;
        }
        static const char zeros[65536] = {};
        for (std::size_t at = expected.size(); at < e.content.size(); at += sizeof zeros) {
          const std::size_t count = std::min(sizeof zeros, e.content.size() - at);
          if (std::memcmp(e.content.data() + at, zeros, count) != 0) {
            std::printf("file %s holds more than its marker near byte %zu\n", path.c_str(), at);
            return 1;
          }
        }
      }
    }
  }
  std::printf("image %s: %zu bytes, %d blocks, %zu files, %zu directories (root included)\n", path, size,
              tree.blockCount, tree.fileCount, tree.directories.size());
  ::munmap(data, size);
  ::close(fd);
  return 0;
}
