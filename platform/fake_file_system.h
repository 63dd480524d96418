#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/file_system.h"

namespace vornel {

// A console that collects the text in memory.
class StringConsole : public Console {
 public:
  void print(std::string_view text) override { text_ += text; }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

// An in-memory file system: entries listed in the order they were added,
// scripted failures, and the image kept in memory with a log of its writes.
// Paths are written without a trailing "/"; parents are made as needed.
class FakeFileSystem : public FileSystem {
 public:
  struct Write {
    std::uint64_t offset;
    std::size_t size;
  };

  void addDirectory(const std::string& path) { add(path, FileKind::Directory); }
  void addFile(const std::string& path, std::string content) { add(path, FileKind::Regular).content = std::move(content); }
  // Stat and listing of the link's own path see the target (not of paths
  // below it); a link to nothing is no file or directory.
  void addLink(const std::string& path, const std::string& target) { add(path, FileKind::Missing).link = target; }
  void remove(const std::string& path) { nodes_.erase(path); }
  void setContent(const std::string& path, std::string content) { nodes_[path].content = std::move(content); }

  void failListing(const std::string& path) { failListing_.insert(path); }
  void failOpen(const std::string& path) { failOpen_.insert(path); }
  void failStat(const std::string& path) { failStat_.insert(path); }  // Unreadable: no permission, a path too long
  // Reads of the file fail once this many bytes have been returned.
  void failReadAfter(const std::string& path, std::uint64_t bytes) { failReadAfter_[path] = bytes; }
  // Stat reports this size while the content keeps its own length.
  void reportSize(const std::string& path, std::uint64_t size) { reportedSize_[path] = size; }
  void failCreate() { failCreate_ = true; }
  void failCommit() { failCommit_ = true; }  // the close or the rename of the image
  // Host copies (copyFrom) take at most this many bytes a call; 0, the
  // default, copies nothing, so the writer reads and writes.
  void copyAtMost(std::uint64_t bytes) { copyAtMost_ = bytes; }
  void failSeekTo(std::uint64_t offset) { failSeekTo_ = offset; }
  // The write that starts at this offset writes only `written` bytes.
  void shortWriteAt(std::uint64_t offset, long long written) { shortWrite_ = {offset, written}; }
  // Runs at the first createOutput: changes the tree between scan and write.
  void onCreateOutput(std::function<void()> hook) { onCreate_ = std::move(hook); }

  bool listDirectory(const std::string& path, std::vector<std::string>& names) override;
  FileInfo stat(const std::string& path) override;
  std::unique_ptr<InputFile> openInput(const std::string& path) override;
  std::unique_ptr<OutputFile> createOutput(const std::string& path) override;

  bool outputCreated() const { return outputCreated_; }
  bool outputCommitted() const { return outputCommitted_; }  // only then does the output path hold the image
  const std::string& image() const { return image_; }
  const std::vector<Write>& writes() const { return writes_; }

 private:
  struct Node {
    FileKind kind = FileKind::Missing;
    std::string content;
    std::vector<std::string> children;
    std::string link;
    std::uint64_t inode = 0;
  };
  class Input;
  class Output;

  Node* find(std::string path);
  Node& add(const std::string& path, FileKind kind);

  std::map<std::string, Node> nodes_;
  std::set<std::string> failListing_, failOpen_, failStat_;
  std::map<std::string, std::uint64_t> failReadAfter_, reportedSize_;
  bool failCreate_ = false, failCommit_ = false, outputCreated_ = false, outputCommitted_ = false;
  std::uint64_t copyAtMost_ = 0, nextInode_ = 1;
  std::optional<std::uint64_t> failSeekTo_;
  std::optional<std::pair<std::uint64_t, long long>> shortWrite_;
  std::function<void()> onCreate_;
  std::string image_;
  std::vector<Write> writes_;
};

}  // namespace vornel
