#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/console.h"
#include "platform/file_system.h"

namespace vornel {

// A console that collects both streams in memory.
class StringConsole : public Console {
 public:
  void print(std::string_view text) override { text_ += text; }
  void error(std::string_view text) override { errors_ += text; }
  const std::string& text() const { return text_; }
  const std::string& errors() const { return errors_; }

 private:
  std::string text_;
  std::string errors_;
};

// An in-memory file system: entries listed in the order they were added,
// scripted failures, and the image kept in memory with a log of its writes.
// Paths are written without a trailing "/"; parents are made as needed.
class FakeFileSystem : public FileSystem {
 public:
  struct Write { std::uint64_t offset, size; };

  void addDirectory(const std::string& path) { add(path, FileKind::Directory); }
  void addFile(const std::string& path, std::string content) {
    add(path, FileKind::Regular).content = std::move(content);
  }
  // Stat and listing of the link's own path see the target (not of paths
  // below it); a link to nothing is no file or directory.
  void addLink(const std::string& path, const std::string& target) { add(path, FileKind::Missing).link = target; }
  void remove(const std::string& path) { nodes_.erase(path); }
  void setContent(const std::string& path, std::string content) { nodes_[path].content = std::move(content); }

  // Scripted failures and changes. By path: listing, opening and stat
  // (Unreadable: no permission, a path too long) fail; reads fail once the
  // given number of bytes were returned; stat reports the given size while
  // the content keeps its own length.
  std::set<std::string> failListing, failOpen, failStat;
  std::map<std::string, std::uint64_t> failReadAfter, reportedSize;
  bool failCreate = false, failCommit = false;  // commit: the close or the rename of the image
  // Host copies (copyFrom) take at most this many bytes a call; 0 copies
  // nothing, so the writer reads and writes.
  std::uint64_t copyAtMost = 0;
  // Reads return at most this many bytes a call, as a pipe or a network file
  // system may; 0 sets no limit.
  std::uint64_t readAtMost = 0;
  std::optional<std::uint64_t> failSeekTo;
  std::optional<std::pair<std::uint64_t, long long>> shortWrite;  // at this offset, only this many bytes
  std::function<void()> onCreateOutput;  // runs once, between the scan and the writing
  // The output cannot seek, as a pipe: writes must come in order ("-" is always such an output).
  bool pipeOutput = false;
  // The host's words for a failure at a path (listing, opening, stat,
  // reading); the fake's own default when none is given. Failures of the
  // output give outputReason.
  std::map<std::string, std::string> reasons;
  std::string outputReason = "No space left on device";
  std::string reasonFor(const std::string& path, const char* fallback) const {
    const auto found = reasons.find(trimmed(path));
    return found != reasons.end() ? found->second : fallback;
  }
  std::string lastError() const override { return lastError_; }

  bool listDirectory(const std::string& path, std::vector<std::string>& names) override {
    const Node* node = find(path);
    if (failListing.count(trimmed(path)) != 0 || node == nullptr || node->kind != FileKind::Directory) {
      lastError_ = reasonFor(path, node == nullptr ? "No such file or directory" : "Permission denied");
      return false;
    }
    names = node->children;
    return true;
  }
  FileInfo stat(const std::string& path) override {
    FileInfo info;
    const Node* node = find(path);
    if (failStat.count(path) != 0) {
      info.kind = FileKind::Unreadable;
      info.reason = reasonFor(path, "Permission denied");
    } else if (node == nullptr) {
      const bool link = nodes_.count(path) != 0;  // a link that leads nowhere
      info.kind = link ? FileKind::Other : FileKind::Missing;
      info.reason = reasonFor(path, link ? "it is a symbolic link that leads nowhere" : "No such file or directory");
    } else {
      info.kind = node->kind;
      info.size = reportedSize.count(path) != 0 ? reportedSize[path] : node->content.size();
      info.device = 1;
      info.inode = node->inode;
    }
    return info;
  }
  std::unique_ptr<InputFile> openInput(const std::string& path) override {
    const Node* node = find(path);
    if (failOpen.count(path) != 0 || node == nullptr || node->kind != FileKind::Regular) {
      lastError_ = reasonFor(path, node == nullptr ? "No such file or directory" : "Permission denied");
      return nullptr;
    }
    const auto fail = failReadAfter.find(path);
    return std::make_unique<Input>(node->content, fail == failReadAfter.end() ? UINT64_MAX : fail->second,
                                   reasonFor(path, "Input/output error"), readAtMost);
  }
  std::unique_ptr<OutputFile> createOutput(const std::string& path) override {
    if (onCreateOutput) std::exchange(onCreateOutput, nullptr)();
    if (failCreate) {
      lastError_ = outputReason;
      return nullptr;
    }
    outputCreated = true;
    image.clear(), writes.clear();
    return std::make_unique<Output>(*this, pipeOutput || path == "-");
  }

  // What the writer did: the output started; the image committed, which
  // alone puts it at the output path; its bytes and its writes in order.
  bool outputCreated = false, outputCommitted = false;
  std::string image;
  std::vector<Write> writes;

 private:
  // Per thread, as a host keeps errno: a helper may read the same fake.
  static inline thread_local std::string lastError_;
  static std::string trimmed(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
  }
  struct Node {
    FileKind kind = FileKind::Missing;
    std::string content;
    std::vector<std::string> children;
    std::string link;
    std::uint64_t inode = 0;
  };
  class Input : public InputFile {
   public:
    Input(std::string content, std::uint64_t failAfter, std::string reason, std::uint64_t readAtMost)
        : content_(std::move(content)), failAfter_(failAfter), reason_(std::move(reason)), readAtMost_(readAtMost) {}
    std::string lastError() const override { return reason_; }
    long long read(std::uint8_t* buffer, std::size_t size) override {
      if (position_ >= failAfter_) return -1;
      const std::size_t count = take(readAtMost_ == 0 ? size : std::min<std::uint64_t>(size, readAtMost_));
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
    std::string reason_;
    std::uint64_t readAtMost_;
    std::uint64_t position_ = 0;
  };

  class Output : public OutputFile {
   public:
    Output(FakeFileSystem& fs, bool inOrder) : fs_(fs), inOrder_(inOrder) {}
    bool inOrder() const override { return inOrder_; }
    std::string lastError() const override { return fs_.outputReason; }
    // An output written in order only ever stands at its end.
    bool seek(std::uint64_t offset) override {
      if (inOrder_ && offset != fs_.image.size()) return false;
      position_ = offset;
      return fs_.failSeekTo != offset;
    }
    long long write(const std::uint8_t* data, std::size_t size) override {
      long long written = static_cast<long long>(size);
      if (fs_.shortWrite && fs_.shortWrite->first == position_) written = fs_.shortWrite->second;
      if (written > 0) store(data, static_cast<std::size_t>(written));
      return written;
    }
    std::uint64_t copyFrom(InputFile& in, std::uint64_t offset, std::uint64_t length) override {
      auto& source = dynamic_cast<Input&>(in);
      if (inOrder_ && offset != fs_.image.size()) return 0;
      const std::size_t count = source.take(std::min(length, fs_.copyAtMost));
      position_ = offset;
      store(reinterpret_cast<const std::uint8_t*>(source.content_.data() + source.position_), count);
      source.position_ += count;
      return count;
    }
    bool commit() override { return fs_.outputCommitted = !fs_.failCommit; }

   private:
    void store(const std::uint8_t* data, std::size_t size) {
      if (size == 0) return;
      if (fs_.image.size() < position_ + size) fs_.image.resize(position_ + size, '\0');
      std::memcpy(fs_.image.data() + position_, data, size);
      fs_.writes.push_back({position_, size});
      position_ += size;
    }

    FakeFileSystem& fs_;
    bool inOrder_;
    std::uint64_t position_ = 0;
  };

  Node* find(std::string path) {
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
  Node& add(const std::string& path, FileKind kind) {
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

  std::map<std::string, Node> nodes_;
  std::uint64_t nextInode_ = 1;
};

}  // namespace vornel
