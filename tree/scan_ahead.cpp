#include "tree/scan_ahead.h"

#include <algorithm>
#include <new>
#include <system_error>

#include "platform/quiet_thread.h"
#include "tree/source_tree.h"

namespace vornel {

Listing readListing(FileSystem& fs, const std::string& path, EntryOrder order) {
  Listing listing;
  if (!fs.listDirectory(path, listing.names)) {
    listing.reason = fs.lastError();
    return listing;
  }
  listing.readable = true;
  // Every later order (file lists, sibling lists, ids, which placement file
  // of a name counts) follows from this one.
  if (order == EntryOrder::Name) std::sort(listing.names.begin(), listing.names.end(), discNameLess);
  listing.infos.reserve(listing.names.size());
  for (const std::string& name : listing.names) listing.infos.push_back(fs.stat(path + name));
  return listing;
}

ScanAhead::ScanAhead(FileSystem& fs, FileSystem* helperFs, EntryOrder order)
    : fs_(fs), helperFs_(helperFs), order_(order) {
  if (helperFs_ == nullptr) return;
  helping_ = true;
  try {
    helper_ = startQuietThread([this] { help(); });
  } catch (const std::system_error&) {
    helping_ = false;  // without a second thread the scan reads everything itself
  }
}

ScanAhead::~ScanAhead() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (helper_.joinable()) helper_.join();
}

Listing ScanAhead::take(const std::string& path) {
  {
    std::unique_lock lock(mutex_);
    if (!stack_.empty() && stack_.back().path == path) {
      stack_.pop_back();
    } else if (const auto found = claims_.find(path); found != claims_.end()) {
      // The helper's claims grow meanwhile: only the reference stays valid.
      Claim& claim = found->second;
      // A helper that has stopped reads no more: what it left is read here.
      changed_.wait(lock, [&] { return claim.done || !helping_; });
      if (claim.done) {
        Listing listing = std::move(claim.listing);
        claims_.erase(path);
        return listing;
      }
    }
  }
  Listing listing = readListing(fs_, path, order_);
  offer(path, listing);
  return listing;
}

// The subdirectories of a directory the scan has read itself; those of a
// directory the helper read are the helper's already.
void ScanAhead::offer(const std::string& path, const Listing& listing) {
  {
    std::lock_guard lock(mutex_);
    if (!helping_) return;
    // The first subdirectory ends at the back, where the scan takes it next.
    for (std::size_t i = listing.names.size(); i-- > 0;) {
      const FileInfo& info = listing.infos[i];
      if (info.kind != FileKind::Directory) continue;
      stack_.push_back({path + listing.names[i] + fs_.separator(), {info.device, info.inode}});
    }
  }
  changed_.notify_all();
}

void ScanAhead::help() {
  try {
    std::unique_lock lock(mutex_);
    while (true) {
      changed_.wait(lock, [&] { return stopping_ || !stack_.empty(); });
      if (stopping_) break;
      const Offered top = std::move(stack_.front());
      stack_.pop_front();
      claims_[top.path];
      lock.unlock();
      readSubtree(top);
      lock.lock();
    }
  } catch (const std::bad_alloc&) {
    // The scan reads on by itself.
  }
  std::lock_guard lock(mutex_);
  helping_ = false;
  changed_.notify_all();
}

// Reads a subtree depth first, in the order the scan will come to its
// directories. Each directory's subdirectories are claimed before its
// listing is published, so the scan, once it has the listing, waits for
// them instead of reading them too. A directory that leads back to one of
// its parents inside the subtree is not read: the scan stops there.
void ScanAhead::readSubtree(const Offered& top) {
  struct Visit {
    Offered directory;
    std::size_t depth;
  };
  std::vector<Visit> visits{{top, 0}};
  std::vector<DirectoryId> parents;  // of the directory being read, within the subtree
  while (!visits.empty()) {
    Visit visit = std::move(visits.back());
    visits.pop_back();
    parents.resize(visit.depth);
    parents.push_back(visit.directory.id);
    Listing listing = readListing(*helperFs_, visit.directory.path, order_);
    const std::size_t firstChild = visits.size();
    for (std::size_t i = listing.names.size(); i-- > 0;) {
      const FileInfo& info = listing.infos[i];
      const DirectoryId id{info.device, info.inode};
      if (info.kind != FileKind::Directory || std::find(parents.begin(), parents.end(), id) != parents.end()) continue;
      visits.push_back({{visit.directory.path + listing.names[i] + fs_.separator(), id}, visit.depth + 1});
    }
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    for (std::size_t i = firstChild; i < visits.size(); ++i) claims_[visits[i].directory.path];
    Claim& claim = claims_[visit.directory.path];
    claim.listing = std::move(listing);
    claim.done = true;
    changed_.notify_all();
  }
}

}  // namespace vornel
