#include "platform/fake_image_host.h"

namespace vornel {

namespace {

class Target : public ExtractTarget {
 public:
  Target(FakeImageHost::Tree& tree, const std::set<std::string>& failCreate) : tree_(tree), failCreate_(failCreate) {}

  bool enterNewDirectory(const std::string& name, std::string& error) override {
    if (!create(name, error)) return false;
    current_ += name + "/";
    tree_[current_];
    return true;
  }
  bool leaveDirectory(std::string&) override {
    current_.erase(current_.rfind('/', current_.size() - 2) + 1);
    return true;
  }
  bool createFile(const std::string& name, std::string& error) override {
    if (!create(name, error)) return false;
    file_ = &tree_[current_ + name];
    return true;
  }
  bool writeFile(const std::uint8_t* data, std::size_t size, std::string&) override {
    file_->append(reinterpret_cast<const char*>(data), size);
    return true;
  }
  bool closeFile(std::string&) override { return true; }

 private:
  bool create(const std::string& name, std::string& error) {
    const std::string path = current_ + name;
    if (failCreate_.count(path) + tree_.count(path) + tree_.count(path + "/") == 0) return true;
    error = "cannot create " + path;
    return false;
  }

  FakeImageHost::Tree& tree_;
  const std::set<std::string>& failCreate_;
  std::string current_;  // "" or "a/b/"
  std::string* file_ = nullptr;
};

}  // namespace

std::unique_ptr<ImageFile> FakeImageHost::openImage(const std::string& path, std::string& error) {
  const auto found = images_.find(path);
  if (found != images_.end()) return std::make_unique<MemoryImageFile>(found->second);
  error = "cannot open " + path + ": No such file or directory";
  return nullptr;
}

std::unique_ptr<ExtractTarget> FakeImageHost::openExtractRoot(const std::string& path, std::string& error) {
  if (trees_[path].empty()) return std::make_unique<Target>(trees_[path], failCreate_);
  error = path + " is not empty";
  return nullptr;
}

}  // namespace vornel
