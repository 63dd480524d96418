#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/fake_console.h"
#include "platform/file_system.h"

namespace vornel {

// An in-memory file system for tests: a fixed enumeration order (the order
// entries were added), scripted failures per path, and the output image kept
// in memory together with a log of every write. A committed image becomes the
// content of the file at the output path.
class FakeFileSystem : public FileSystem {
 public:
  struct Write {
    std::uint64_t offset;
    std::size_t size;
  };

  // Paths are written without a trailing "/"; parents are created as needed.
  void addDirectory(const std::string& path);
  void addFile(const std::string& path, std::string content);
  // An entry that is neither a file nor a directory (a FIFO, a device).
  void addOther(const std::string& path);
  // A link to another directory or file: stat and listing see the target.
  void addLink(const std::string& path, const std::string& target);
  void remove(const std::string& path);
  void setContent(const std::string& path, std::string content);

  // Scripted failures.
  void failListing(const std::string& path) { failListing_.push_back(normalize(path)); }
  void failOpen(const std::string& path) { failOpen_.push_back(normalize(path)); }
  // Reads of the file fail once this many bytes have been returned.
  void failReadAfter(const std::string& path, std::uint64_t bytes) { failReadAfter_[normalize(path)] = bytes; }
  // stat reports this size while the content keeps its own length.
  void reportSize(const std::string& path, std::uint64_t size) { reportedSize_[normalize(path)] = size; }
  // stat reports the entry as Unreadable (permission denied, a path too long).
  void failStat(const std::string& path) { failStat_.push_back(normalize(path)); }
  void failCreate() { failCreate_ = true; }
  // The commit of the image (its close or its rename) fails.
  void failCommit() { failCommit_ = true; }
  // Copies inside the host (copyFrom) take at most this many bytes a call,
  // as a host does that copies part of a range or fails midway; without it
  // the fake copies nothing and the writer reads and writes.
  void copyAtMost(std::uint64_t bytes) { copyAtMost_ = bytes; }
  // The seek to this offset fails.
  void failSeekTo(std::uint64_t offset) { failSeekTo_ = offset; }
  // The write that starts at this offset writes only `written` bytes.
  void shortWriteAt(std::uint64_t offset, long long written) { shortWrite_ = {offset, written}; }
  // Runs once, at the first createOutput: lets a test change the tree
  // between the scan and the writing of the image.
  void onCreateOutput(std::function<void()> hook) { onCreate_ = std::move(hook); }

  bool listDirectory(const std::string& path, std::vector<std::string>& names) override;
  FileInfo stat(const std::string& path) override;
  std::unique_ptr<InputFile> openInput(const std::string& path) override;
  std::unique_ptr<OutputFile> createOutput(const std::string& path) override;

  bool outputCreated() const { return outputCreated_; }
  // The image was committed: the output path now holds it.
  bool outputCommitted() const { return outputCommitted_; }
  std::string outputPath() const { return outputPath_; }
  const std::string& image() const { return image_; }
  // The content of a file of the tree; empty when there is none.
  std::string contentOf(const std::string& path) {
    const Node* node = find(path);
    return node == nullptr ? std::string() : node->content;
  }
  const std::vector<Write>& writes() const { return writes_; }
  // Paths opened for reading, in order.
  const std::vector<std::string>& opened() const { return opened_; }

 private:
  struct Node {
    FileKind kind = FileKind::Missing;
    std::string content;
    std::vector<std::string> children;  // names, in enumeration order
    std::string linkTarget;
    std::uint64_t inode = 0;
  };
  class FakeInput;
  class FakeOutput;

  static std::string normalize(const std::string& path);
  Node* find(const std::string& path);
  Node& add(const std::string& path, FileKind kind);
  bool listed(const std::vector<std::string>& list, const std::string& path) const;

  std::map<std::string, Node> nodes_;
  std::uint64_t nextInode_ = 1;
  std::vector<std::string> failListing_;
  std::vector<std::string> failOpen_;
  std::vector<std::string> failStat_;
  std::map<std::string, std::uint64_t> failReadAfter_;
  std::map<std::string, std::uint64_t> reportedSize_;
  bool failCreate_ = false;
  bool failCommit_ = false;
  std::uint64_t copyAtMost_ = 0;
  bool outputCommitted_ = false;
  std::optional<std::uint64_t> failSeekTo_;
  std::optional<std::pair<std::uint64_t, long long>> shortWrite_;
  std::function<void()> onCreate_;
  bool outputCreated_ = false;
  std::string outputPath_;
  std::string image_;
  std::vector<Write> writes_;
  std::vector<std::string> opened_;
};

}  // namespace vornel
