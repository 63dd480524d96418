#pragma once

#include <map>
#include <set>
#include <string>

#include "platform/image_file.h"

namespace vornel {

// Images held in memory by path, and extraction into an in-memory tree whose
// paths ("a/b") map to file contents or to directories.
class FakeImageHost : public ImageHost {
 public:
  struct Tree {
    std::set<std::string> directories;         // "" is the extraction root
    std::map<std::string, std::string> files;  // path -> content
  };

  void addImage(const std::string& path, std::string bytes) { images_[path] = std::move(bytes); }
  // Creating anything at this path (relative to the root) fails.
  void failCreate(const std::string& path) { failCreate_.insert(path); }

  std::unique_ptr<ImageFile> openImage(const std::string& path, std::string& error) override;
  std::unique_ptr<ExtractTarget> openExtractRoot(const std::string& path, std::string& error) override;

  // The tree extracted under each root path.
  const Tree& extracted(const std::string& root) { return trees_[root]; }

 private:
  class Target;

  std::map<std::string, std::string> images_;
  std::set<std::string> failCreate_;
  std::map<std::string, Tree> trees_;
};

}  // namespace vornel
