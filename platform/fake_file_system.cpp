#include "platform/fake_file_system.h"

#include <algorithm>
#include <cstring>

namespace vornel {

class FakeFileSystem::FakeInput : public InputFile {
 public:
  friend class FakeOutput;
  FakeInput(std::string content, std::optional<std::uint64_t> failAfter)
      : content_(std::move(content)), failAfter_(failAfter) {}
  long long read(std::uint8_t* buffer, std::size_t size) override {
    if (failAfter_ && position_ >= *failAfter_) return -1;
    std::size_t count = std::min(size, content_.size() - position_);
    if (failAfter_) count = std::min<std::size_t>(count, *failAfter_ - position_);
    std::memcpy(buffer, content_.data() + position_, count);
    position_ += count;
    return static_cast<long long>(count);
  }
  bool seek(std::uint64_t offset) override {
    position_ = std::min<std::uint64_t>(offset, content_.size());
    return true;
  }

 private:
  std::string content_;
  std::optional<std::uint64_t> failAfter_;
  std::size_t position_ = 0;
};

class FakeFileSystem::FakeOutput : public OutputFile {
 public:
  explicit FakeOutput(FakeFileSystem& fs) : fs_(fs) {}
  bool seek(std::uint64_t offset) override {
    if (fs_.failSeekTo_ && *fs_.failSeekTo_ == offset) return false;
    position_ = offset;
    return true;
  }
  long long write(const std::uint8_t* data, std::size_t size) override {
    long long written = static_cast<long long>(size);
    if (fs_.shortWrite_ && fs_.shortWrite_->first == position_) written = fs_.shortWrite_->second;
    if (written > 0) {
      std::string& image = fs_.image_;
      if (image.size() < position_ + written) image.resize(position_ + written, '\0');
      std::memcpy(image.data() + position_, data, static_cast<std::size_t>(written));
      fs_.writes_.push_back({position_, static_cast<std::size_t>(written)});
      position_ += static_cast<std::uint64_t>(written);
    }
    return written;
  }
  std::uint64_t copyFrom(InputFile& in, std::uint64_t offset, std::uint64_t length) override {
    auto* source = dynamic_cast<FakeInput*>(&in);
    if (source == nullptr || fs_.copyAtMost_ == 0) return 0;
    std::uint64_t count = std::min({length, fs_.copyAtMost_, source->content_.size() - source->position_});
    if (source->failAfter_) count = std::min<std::uint64_t>(count, *source->failAfter_ - std::min(*source->failAfter_, source->position_));
    if (count == 0) return 0;
    std::string& image = fs_.image_;
    if (image.size() < offset + count) image.resize(offset + count, '\0');
    std::memcpy(image.data() + offset, source->content_.data() + source->position_, count);
    fs_.writes_.push_back({offset, static_cast<std::size_t>(count)});
    source->position_ += count;
    return count;
  }
  bool commit() override {
    if (fs_.failCommit_) return false;
    fs_.add(fs_.outputPath_, FileKind::Regular).content = fs_.image_;
    fs_.outputCommitted_ = true;
    return true;
  }

 private:
  FakeFileSystem& fs_;
  std::uint64_t position_ = 0;
};

std::string FakeFileSystem::normalize(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

FakeFileSystem::Node* FakeFileSystem::find(const std::string& path) {
  std::string p = normalize(path);
  // Follows links, including links in the middle of the path, a bounded
  // number of times so that a loop of links ends.
  for (int hops = 0; hops < 40; ++hops) {
    auto it = nodes_.find(p);
    if (it != nodes_.end()) {
      if (it->second.linkTarget.empty()) return &it->second;
      p = it->second.linkTarget;
      continue;
    }
    // A link among the leading components: replace that prefix.
    bool replaced = false;
    for (std::size_t slash = p.rfind('/'); slash != std::string::npos && slash > 0;
         slash = p.rfind('/', slash - 1)) {
      auto prefix = nodes_.find(p.substr(0, slash));
      if (prefix != nodes_.end() && !prefix->second.linkTarget.empty()) {
        p = prefix->second.linkTarget + p.substr(slash);
        replaced = true;
        break;
      }
    }
    if (!replaced) return nullptr;
  }
  return nullptr;
}

FakeFileSystem::Node& FakeFileSystem::add(const std::string& path, FileKind kind) {
  const std::string p = normalize(path);
  const std::size_t slash = p.rfind('/');
  if (slash != std::string::npos && slash > 0) {
    const std::string parent = p.substr(0, slash);
    if (nodes_.find(parent) == nodes_.end()) addDirectory(parent);
    auto& children = nodes_[parent].children;
    const std::string name = p.substr(slash + 1);
    if (std::find(children.begin(), children.end(), name) == children.end()) children.push_back(name);
  }
  Node& node = nodes_[p];
  node.kind = kind;
  if (node.inode == 0) node.inode = nextInode_++;
  return node;
}

void FakeFileSystem::addDirectory(const std::string& path) { add(path, FileKind::Directory); }

void FakeFileSystem::addFile(const std::string& path, std::string content) {
  add(path, FileKind::Regular).content = std::move(content);
}

void FakeFileSystem::addOther(const std::string& path) { add(path, FileKind::Other); }

void FakeFileSystem::addLink(const std::string& path, const std::string& target) {
  add(path, FileKind::Missing).linkTarget = normalize(target);
}

void FakeFileSystem::remove(const std::string& path) { nodes_.erase(normalize(path)); }

void FakeFileSystem::setContent(const std::string& path, std::string content) {
  nodes_[normalize(path)].content = std::move(content);
}

bool FakeFileSystem::listed(const std::vector<std::string>& list, const std::string& path) const {
  return std::find(list.begin(), list.end(), normalize(path)) != list.end();
}

bool FakeFileSystem::listDirectory(const std::string& path, std::vector<std::string>& names) {
  if (listed(failListing_, path)) return false;
  const Node* node = find(path);
  if (node == nullptr || node->kind != FileKind::Directory) return false;
  names = node->children;
  return true;
}

FileInfo FakeFileSystem::stat(const std::string& path) {
  FileInfo info;
  if (listed(failStat_, path)) {
    info.kind = FileKind::Unreadable;
    return info;
  }
  const Node* node = find(path);
  if (node == nullptr) {
    // A link that leads nowhere exists, but is no file or directory.
    const auto link = nodes_.find(normalize(path));
    if (link != nodes_.end() && !link->second.linkTarget.empty()) info.kind = FileKind::Other;
    return info;
  }
  info.kind = node->kind;
  info.size = node->content.size();
  auto reported = reportedSize_.find(normalize(path));
  if (reported != reportedSize_.end()) info.size = reported->second;
  info.device = 1;
  info.inode = node->inode;
  return info;
}

std::unique_ptr<InputFile> FakeFileSystem::openInput(const std::string& path) {
  opened_.push_back(path);
  if (listed(failOpen_, path)) return nullptr;
  const Node* node = find(path);
  if (node == nullptr || node->kind != FileKind::Regular) return nullptr;
  std::optional<std::uint64_t> failAfter;
  auto it = failReadAfter_.find(normalize(path));
  if (it != failReadAfter_.end()) failAfter = it->second;
  return std::make_unique<FakeInput>(node->content, failAfter);
}

std::unique_ptr<OutputFile> FakeFileSystem::createOutput(const std::string& path) {
  if (onCreate_) {
    auto hook = std::move(onCreate_);
    onCreate_ = nullptr;
    hook();
  }
  if (failCreate_) return nullptr;
  outputCreated_ = true;
  outputPath_ = path;
  image_.clear();
  writes_.clear();
  return std::make_unique<FakeOutput>(*this);
}

}  // namespace vornel
