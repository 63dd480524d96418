#pragma once

#include <cstring>
#include <map>
#include <set>
#include <string>

#include "platform/image_file.h"

namespace vornel {

// An image held in memory.
class MemoryImageFile : public ImageFile {
 public:
  explicit MemoryImageFile(std::string bytes) : bytes_(std::move(bytes)) {}
  std::uint64_t size() const override { return bytes_.size(); }
  bool readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) override {
    if (offset > bytes_.size() || size > bytes_.size() - offset) return false;
    std::memcpy(buffer, bytes_.data() + offset, size);
    return true;
  }

 private:
  std::string bytes_;
};

// Images held in memory by path, and extraction into memory: each root maps
// the paths it holds ("a/b" for a file, "a/" for a directory) to their bytes.
struct FakeImageHost : ImageHost {
  using Tree = std::map<std::string, std::string>;
  std::map<std::string, std::string> images;
  std::map<std::string, Tree> extracted;
  std::set<std::string> failCreate;  // paths below any root ("a/b") that cannot be created

  struct Target : ExtractTarget {
    Target(Tree& t, const std::set<std::string>& f) : tree(t), failCreate(f) {}
    // Adds the entry `name` + `suffix` to the current directory, unless `name` is taken or made to fail.
    bool add(const std::string& name, const char* suffix, std::string& error) {
      const std::string path = dir + name;
      if (failCreate.count(path) + tree.count(path) + tree.count(path + "/") != 0) {
        error = "cannot create " + path;
        return false;
      }
      file = &tree[path + suffix];
      return true;
    }
    bool enterNewDirectory(const std::string& name, std::string& error) override {
      if (!add(name, "/", error)) return false;
      dir += name + "/";
      return true;
    }
    bool leaveDirectory(std::string&) override {
      dir.erase(dir.rfind('/', dir.size() - 2) + 1);
      return true;
    }
    bool createFile(const std::string& name, std::string& error) override { return add(name, "", error); }
    bool writeFile(const std::uint8_t* data, std::size_t size, std::string&) override {
      file->append(reinterpret_cast<const char*>(data), size);
      return true;
    }
    bool closeFile(std::string&) override { return true; }

    Tree& tree;
    const std::set<std::string>& failCreate;
    std::string dir;  // the current directory: "" or "a/b/"
    std::string* file = nullptr;
  };

  std::unique_ptr<ImageFile> openImage(const std::string& path, std::string& error) override {
    if (images.count(path) != 0) return std::make_unique<MemoryImageFile>(images[path]);
    error = "cannot open " + path + ": No such file or directory";
    return nullptr;
  }
  std::unique_ptr<ExtractTarget> openExtractRoot(const std::string& path, std::string& error) override {
    if (extracted[path].empty()) return std::make_unique<Target>(extracted[path], failCreate);
    error = path + " is not empty";
    return nullptr;
  }
};

}  // namespace vornel
