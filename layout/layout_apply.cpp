#include "layout/layout_apply.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "format/bytes.h"

namespace vornel {

namespace {

// A file or a directory of the tree.
struct Item {
  FileRecord* file = nullptr;
  DirNode* dir = nullptr;
  DirNode* parent() const { return file ? file->parent : dir->parent; }
  std::int32_t& id() const { return file ? file->id : dir->id; }
};

// Every entry of the tree by its path on the disc, folded as the disc
// compares names ("/A/B"); the root is "/".
std::unordered_map<std::string, Item> indexTree(DirNode& root) {
  std::unordered_map<std::string, Item> items;
  std::vector<std::pair<DirNode*, std::string>> pending{{&root, ""}};
  while (!pending.empty()) {
    auto [dir, path] = std::move(pending.back());
    pending.pop_back();
    for (auto& file : dir->files) items.emplace(path + "/" + foldName(file->name), Item{file.get(), nullptr});
    for (auto& sub : dir->children) {
      const std::string subPath = path + "/" + foldName(sub->name);
      items.emplace(subPath, Item{nullptr, sub.get()});
      pending.emplace_back(sub.get(), subPath);
    }
  }
  return items;
}

std::string blocks(std::int64_t n) { return std::to_string(n) + (n == 1 ? " block" : " blocks"); }

}  // namespace

AppliedLayout applyLayout(const LayoutDocument& layout, const std::string& layoutPath, DirNode& root, IdCounter& ids,
                          AvatarCounts given, Console& console) {
  AppliedLayout applied;
  std::unordered_map<std::string, Item> items = indexTree(root);
  std::unordered_set<const void*> listed;

  const LayoutEntry& rootEntry = layout.entries[0];
  root.id = layout.rootId;
  const auto rootCount = static_cast<int>(layout.rootAvatars.size());
  if (given.root == 0 || given.root == rootCount) {
    std::copy(layout.rootAvatars.begin(), layout.rootAvatars.end(), root.avatars.begin());
    root.lastAvatar = rootCount - 1;
    applied.pinned.push_back({nullptr, &root, &rootEntry});
  }

  for (std::size_t i = 1; i < layout.entries.size(); ++i) {
    const LayoutEntry& e = layout.entries[i];
    const auto found = items.find(foldName(e.path));
    if (found == items.end() || (found->second.dir != nullptr) != e.directory) {
      // Its contents are missing too; the warning for the directory says so.
      const std::size_t slash = e.path.rfind('/');
      const auto parent = items.find(foldName(e.path.substr(0, slash)));
      if (slash == 0 || (parent != items.end() && listed.count(parent->second.dir) != 0)) {
        warn(console, layoutPath + " line " + std::to_string(e.line) + ": skipped " + e.path + ", which is no " +
                          (e.directory ? "directory" : "file") + " of the tree");
      }
      continue;
    }
    const Item item = found->second;
    listed.insert(item.file ? static_cast<const void*>(item.file) : item.dir);
    item.id() = e.id;
    item.parent()->entryOrder.push_back({item.file, item.dir});
    const auto count = static_cast<int>(e.avatars.size());
    if (item.file != nullptr) {
      item.file->type = e.type;
      // A file that was empty in the image holds no block there: once it has
      // content, it is placed as a new one is.
      if (count == 0 || (e.blockCount == 0 && item.file->blockCount > 0)) continue;
      std::copy(e.avatars.begin(), e.avatars.end(), item.file->avatars.begin());
      item.file->lastAvatar = count - 1;
      applied.pinned.push_back({item.file, nullptr, &e});
    } else if (count > 0 && (given.directories == 0 || given.directories == count)) {
      std::copy(e.avatars.begin(), e.avatars.end(), item.dir->avatars.begin());
      item.dir->lastAvatar = count - 1;
      applied.pinned.push_back({nullptr, item.dir, &e});
    }
  }

  // The tree's other entries, in the order the scan numbered them, take ids
  // above every id of the layout and follow the listed ones.
  std::vector<Item> unlisted;
  for (const auto& [path, item] : items) {
    if (listed.count(item.file ? static_cast<const void*>(item.file) : item.dir) == 0) unlisted.push_back(item);
  }
  std::sort(unlisted.begin(), unlisted.end(), [](const Item& a, const Item& b) { return a.id() < b.id(); });
  ids.continueAbove(layout.highestId());
  for (const Item& item : unlisted) {
    item.id() = ids.nextId();
    item.parent()->entryOrder.push_back({item.file, item.dir});
  }
  preOrderWalk(root, [&](DirNode& dir) {
    for (auto& block : dir.blocks) block->id = ids.nextId();
    return 0;
  });
  return applied;
}

int placePinned(const AppliedLayout& applied, FreeBlocksPool& pool, Console& console) {
  std::unordered_map<std::int32_t, const PinnedEntry*> owners;
  for (const PinnedEntry& p : applied.pinned) {
    const std::int64_t n = p.file ? p.file->blockCount : p.entry->blockCount;
    const std::int32_t id = p.file ? p.file->id : p.dir->id;
    owners.emplace(id, &p);
    for (const std::int32_t avatar : p.entry->avatars) {
      if (n == 0) break;  // an empty file holds no block
      std::string why;
      if (avatar < 0 || avatar + n > kPoolSize) {
        why = "the copy runs past the disc's last block, " + std::to_string(kPoolSize - 1);
      } else {
        for (std::int64_t b = avatar; b < avatar + n && why.empty(); ++b) {
          if (pool.isFree(b)) continue;
          const auto holder = owners.find(pool.owner(b));
          why = "block " + std::to_string(b) + " already holds " +
                (pool.owner(b) == pool.owner(0) ? std::string("the disc label")
                 : holder != owners.end()        ? holder->second->entry->path
                                                 : std::string("another entry"));
        }
      }
      if (!why.empty()) {
        const std::string sizes =
            p.file ? "it has " + blocks(n) + " now, " + std::to_string(p.entry->blockCount) + " in the layout"
                   : "it has " + blocks(n) + " in the layout";
        return fail(console,
                    "Error layout avatar " + std::to_string(avatar) + " of " + p.entry->path + ": " + blocks(n) +
                        " do not fit there.\n",
                    sizes + "; " + why + "; to place it anew, empty its avatars in the layout file");
      }
      for (std::int64_t b = avatar; b < avatar + n; ++b) pool.own(b, id);
    }
    (p.file ? p.file->placed : p.dir->placed) = true;
  }
  return 0;
}

int fitPinnedDirectories(const AppliedLayout& applied, FreeBlocksPool& pool, Console& console) {
  for (const PinnedEntry& p : applied.pinned) {
    if (p.dir == nullptr) continue;
    const std::int64_t now = p.dir->blockCount(), held = p.entry->blockCount;
    if (now > held) {
      return fail(console,
                  "Error layout avatar " + std::to_string(p.dir->avatars[0]) + " of " + p.entry->path + ": " +
                      blocks(now) + " do not fit there.\n",
                  "the directory's entries need " + blocks(now) + " now, " + std::to_string(held) +
                      " in the layout; to place it anew, empty its avatars in the layout file");
    }
    for (int j = 0; j <= p.dir->lastAvatar; ++j) {
      for (std::int64_t k = now; k < held; ++k) pool.release(p.dir->avatars[j] + k);
    }
  }
  return 0;
}

}  // namespace vornel
