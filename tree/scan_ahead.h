#pragma once

// Reading directories ahead of the scan on a second thread, so that a tree
// of many directories is read on two cores. Who reads a directory changes
// nothing the scan does with it: the scan sees the same listing, in the same
// order, and meets every failure in the same place.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/file_system.h"

namespace vornel {

// The order in which the entries of every directory are taken: sorted by
// the disc's name order (the same on every host), or as the host lists them.
enum class EntryOrder { Name, Disk };

// A directory as one read gives it: its entries in the scan's order and
// what stat says of each. Not readable when it cannot be enumerated, and
// then the reason says why in the host's words.
struct Listing {
  bool readable = false;
  std::string reason;
  std::vector<std::string> names;
  std::vector<FileInfo> infos;
};

// A directory's identity on the host: met again below itself, it is a loop.
struct DirectoryId {
  std::uint64_t device;
  std::uint64_t inode;
  bool operator==(const DirectoryId&) const = default;
};

// Lists the directory at path (ending with "/") in the given order and stats
// each entry.
Listing readListing(FileSystem& fs, const std::string& path, EntryOrder order);

// The scan visits directories depth first and keeps a stack of the
// subdirectories it has still to come to. The helper takes the one it will
// come to last, at the bottom of that stack, and reads its whole subtree,
// while the scan reads the nearer ones; the scan takes what the helper has
// read when it comes to it and waits for what the helper is reading.
class ScanAhead {
 public:
  // No helper thread when helperFs is null: the scan reads everything.
  ScanAhead(FileSystem& fs, FileSystem* helperFs, EntryOrder order);
  ~ScanAhead();
  ScanAhead(const ScanAhead&) = delete;
  ScanAhead& operator=(const ScanAhead&) = delete;

  // The listing of the directory at path (ending with "/") that the scan
  // has come to. The subdirectories of a directory read here go onto the
  // stack, in the order the scan will come to them.
  Listing take(const std::string& path);

 private:
  struct Claim {
    bool done = false;
    Listing listing;
  };
  struct Offered {
    std::string path;
    DirectoryId id;
  };

  void offer(const std::string& path, const Listing& listing);
  void help();
  void readSubtree(const Offered& top);

  FileSystem& fs_;
  FileSystem* helperFs_;
  EntryOrder order_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Offered> stack_;  // the scan's end at the back, the helper's at the front
  std::unordered_map<std::string, Claim> claims_;  // read or being read by the helper
  bool stopping_ = false;
  bool helping_ = false;
  std::thread helper_;
};

}  // namespace vornel
