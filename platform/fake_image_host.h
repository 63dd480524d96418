#pragma once

#include <map>
#include <set>
#include <string>

#include "platform/image_file.h"

namespace vornel {

// Images held in memory by path, and extraction into memory: each root maps
// the paths it holds ("a/b" for a file, "a/" for a directory) to their bytes.
class FakeImageHost : public ImageHost {
 public:
  using Tree = std::map<std::string, std::string>;

  void addImage(const std::string& path, std::string bytes) { images_[path] = std::move(bytes); }
  // Creating anything at this path, relative to the root, fails.
  void failCreate(const std::string& path) { failCreate_.insert(path); }
  const Tree& extracted(const std::string& root) { return trees_[root]; }

  std::unique_ptr<ImageFile> openImage(const std::string& path, std::string& error) override;
  std::unique_ptr<ExtractTarget> openExtractRoot(const std::string& path, std::string& error) override;

 private:
  std::map<std::string, std::string> images_;
  std::set<std::string> failCreate_;
  std::map<std::string, Tree> trees_;
};

}  // namespace vornel
