#include "platform/fake_file_system.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace vornel {

namespace {

std::string trimmed(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

class FakeFileSystem::Input : public InputFile {
 public:
  Input(std::string content, std::uint64_t failAfter) : content_(std::move(content)), failAfter_(failAfter) {}
  long long read(std::uint8_t* buffer, std::size_t size) override {
    if (position_ >= failAfter_) return -1;
    const std::size_t count = take(size);
    std::memcpy(buffer, content_.data() + position_, count);
    position_ += count;
    return static_cast<long long>(count);
  }
  bool seek(std::uint64_t offset) override {
    position_ = std::min<std::uint64_t>(offset, content_.size());
    return true;
  }
  // As many of `size` bytes as the content holds before its end or its failure.
  std::size_t take(std::uint64_t size) const {
    return static_cast<std::size_t>(
        std::min({size, content_.size() - position_, failAfter_ - std::min(failAfter_, position_)}));
  }

  std::string content_;
  std::uint64_t failAfter_;
  std::uint64_t position_ = 0;
};

class FakeFileSystem::Output : public OutputFile {
 public:
  explicit Output(FakeFileSystem& fs) : fs_(fs) {}
  bool seek(std::uint64_t offset) override {
    position_ = offset;
    return fs_.failSeekTo_ != offset;
  }
  long long write(const std::uint8_t* data, std::size_t size) override {
    long long written = static_cast<long long>(size);
    if (fs_.shortWrite_ && fs_.shortWrite_->first == position_) written = fs_.shortWrite_->second;
    if (written > 0) store(data, static_cast<std::size_t>(written));
    return written;
  }
  std::uint64_t copyFrom(InputFile& in, std::uint64_t offset, std::uint64_t length) override {
    auto& source = dynamic_cast<Input&>(in);
    const std::size_t count = source.take(std::min(length, fs_.copyAtMost_));
    position_ = offset;
    store(reinterpret_cast<const std::uint8_t*>(source.content_.data() + source.position_), count);
    source.position_ += count;
    return count;
  }
  bool commit() override { return fs_.outputCommitted_ = !fs_.failCommit_; }

 private:
  void store(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return;
    if (fs_.image_.size() < position_ + size) fs_.image_.resize(position_ + size, '\0');
    std::memcpy(fs_.image_.data() + position_, data, size);
    fs_.writes_.push_back({position_, size});
    position_ += size;
  }

  FakeFileSystem& fs_;
  std::uint64_t position_ = 0;
};

FakeFileSystem::Node* FakeFileSystem::find(std::string path) {
  // Follows links (of the whole path) a bounded number of times, so that a
  // loop of links ends.
  for (int hops = 0; hops < 40; ++hops) {
    const auto it = nodes_.find(trimmed(path));
    if (it == nodes_.end()) return nullptr;
    if (it->second.link.empty()) return &it->second;
    path = it->second.link;
  }
  return nullptr;
}

FakeFileSystem::Node& FakeFileSystem::add(const std::string& path, FileKind kind) {
  const std::size_t slash = path.rfind('/');
  if (slash != std::string::npos) {
    const std::string parent = path.substr(0, slash);
    if (nodes_.count(parent) == 0) addDirectory(parent);
    auto& children = nodes_[parent].children;
    const std::string name = path.substr(slash + 1);
    if (std::find(children.begin(), children.end(), name) == children.end()) children.push_back(name);
  }
  Node& node = nodes_[path];
  node.kind = kind;
  if (node.inode == 0) node.inode = nextInode_++;
  return node;
}

bool FakeFileSystem::listDirectory(const std::string& path, std::vector<std::string>& names) {
  const Node* node = find(path);
  if (failListing_.count(trimmed(path)) != 0 || node == nullptr || node->kind != FileKind::Directory) return false;
  names = node->children;
  return true;
}

FileInfo FakeFileSystem::stat(const std::string& path) {
  FileInfo info;
  const Node* node = find(path);
  if (failStat_.count(path) != 0) {
    info.kind = FileKind::Unreadable;
  } else if (node == nullptr) {
    if (nodes_.count(path) != 0) info.kind = FileKind::Other;  // a link that leads nowhere
  } else {
    info.kind = node->kind;
    info.size = reportedSize_.count(path) != 0 ? reportedSize_[path] : node->content.size();
    info.device = 1;
    info.inode = node->inode;
  }
  return info;
}

std::unique_ptr<InputFile> FakeFileSystem::openInput(const std::string& path) {
  const Node* node = find(path);
  if (failOpen_.count(path) != 0 || node == nullptr || node->kind != FileKind::Regular) return nullptr;
  const auto fail = failReadAfter_.find(path);
  return std::make_unique<Input>(node->content, fail == failReadAfter_.end() ? UINT64_MAX : fail->second);
}

std::unique_ptr<OutputFile> FakeFileSystem::createOutput(const std::string&) {
  if (onCreate_) std::exchange(onCreate_, nullptr)();
  if (failCreate_) return nullptr;
  outputCreated_ = true;
  image_.clear();
  writes_.clear();
  return std::make_unique<Output>(*this);
}

}  // namespace vornel
