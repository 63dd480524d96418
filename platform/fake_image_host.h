#pragma once

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

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
// the paths it holds ("a/b" for a file, "a/" for a directory) to their bytes;
// a file appears only when finished.
struct FakeImageHost : ImageHost {
  using Tree = std::map<std::string, std::string>;
  std::map<std::string, std::string> images;
  std::map<std::string, Tree> extracted;
  std::set<std::string> failCreate;  // paths below any root ("a/b") that cannot be created
  std::set<std::string> failWrite;   // files whose writes fail once they hold some bytes

  struct Target : ExtractTarget {
    Target(FakeImageHost& h, Tree& t) : host(h), tree(t) {}
    bool creatable(const std::string& name, std::string& error) {
      path = held.back() + name;
      if (host.failCreate.count(path) + tree.count(path) + tree.count(path + "/") == 0) return true;
      error = "cannot create " + path;
      return false;
    }
    bool enterNewDirectory(const std::string& name, std::string& error) override {
      if (!creatable(name, error)) return false;
      tree[path + "/"];
      held.push_back(path + "/");
      return true;
    }
    void leaveDirectory() override { held.pop_back(); }
    bool createFile(const std::string& name, std::string& error) override { return creatable(name, error); }
    bool writeFile(const std::uint8_t* data, std::size_t size, std::string& error) override {
      const bool full = host.failWrite.count(path) != 0 && !content.empty();
      if (full) error = "cannot write file: No space left on device";
      else content.append(reinterpret_cast<const char*>(data), size);
      return !full;
    }
    bool finishFile(std::string&) override { return tree.emplace(path, std::exchange(content, {})).second; }
    void abandonFile() override { content.clear(); }

    FakeImageHost& host;
    Tree& tree;
    std::vector<std::string> held{""};  // the directories on the current path: "", "a/", "a/b/"
    std::string path;                  // the entry being made
    std::string content;                // the file being written
  };

  std::unique_ptr<ImageFile> openImage(const std::string& path, std::string& error) override {
    if (images.count(path) != 0) return std::make_unique<MemoryImageFile>(images[path]);
    error = "cannot open " + path + ": No such file or directory";
    return nullptr;
  }
  std::unique_ptr<ExtractTarget> openExtractRoot(const std::string& path, std::string& error) override {
    if (extracted[path].empty()) return std::make_unique<Target>(*this, extracted[path]);
    error = path + " is not empty";
    return nullptr;
  }
};

}  // namespace vornel
