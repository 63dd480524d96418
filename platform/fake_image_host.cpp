#include "platform/fake_image_host.h"

namespace vornel {

class FakeImageHost::Target : public ExtractTarget {
 public:
  Target(Tree& tree, const std::set<std::string>& failCreate) : tree_(tree), failCreate_(failCreate) {}

  bool enterNewDirectory(const std::string& name, std::string& error) override {
    if (!create(name, error)) return false;
    current_ = path(name);
    tree_.directories.insert(current_);
    return true;
  }
  bool leaveDirectory(std::string& error) override {
    if (current_.empty()) {
      error = "left the extraction root";
      return false;
    }
    const auto slash = current_.rfind('/');
    current_ = slash == std::string::npos ? "" : current_.substr(0, slash);
    return true;
  }
  bool createFile(const std::string& name, std::string& error) override {
    if (!create(name, error)) return false;
    file_ = path(name);
    tree_.files[file_];
    return true;
  }
  bool writeFile(const std::uint8_t* data, std::size_t size, std::string&) override {
    tree_.files[file_].append(reinterpret_cast<const char*>(data), size);
    return true;
  }
  bool closeFile(std::string&) override { return true; }

 private:
  std::string path(const std::string& name) const { return current_.empty() ? name : current_ + "/" + name; }
  bool create(const std::string& name, std::string& error) {
    const std::string p = path(name);
    if (failCreate_.count(p) != 0 || tree_.directories.count(p) != 0 || tree_.files.count(p) != 0) {
      error = "cannot create " + p;
      return false;
    }
    return true;
  }

  Tree& tree_;
  const std::set<std::string>& failCreate_;
  std::string current_;
  std::string file_;
};

std::unique_ptr<ImageFile> FakeImageHost::openImage(const std::string& path, std::string& error) {
  const auto found = images_.find(path);
  if (found == images_.end()) {
    error = "cannot open " + path + ": No such file or directory";
    return nullptr;
  }
  return std::make_unique<MemoryImageFile>(found->second);
}

std::unique_ptr<ExtractTarget> FakeImageHost::openExtractRoot(const std::string& path, std::string& error) {
  Tree& tree = trees_[path];
  if (tree.directories.size() > 1 || !tree.files.empty()) {
    error = path + " is not empty";
    return nullptr;
  }
  tree.directories.insert("");
  return std::make_unique<Target>(tree, failCreate_);
}

}  // namespace vornel
