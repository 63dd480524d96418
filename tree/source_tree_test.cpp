#include "tree/source_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace vornel {
namespace {

TEST(SourceTreeTest, FreshBlockHoldsEmptyHeaderOverTheFillerPattern) {
  IdCounter ids;
  auto block = newDirBlock(ids);
  EXPECT_EQ(block->id, 1);
  const std::uint8_t header[20] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0x14, 0, 0, 0, 0x14};
  EXPECT_EQ(std::vector<std::uint8_t>(block->data.begin(), block->data.begin() + 20),
            std::vector<std::uint8_t>(header, header + 20));
  // The pattern keeps its block phase: bytes 20-23 are the second half of a repetition.
  EXPECT_EQ(std::string(block->data.begin() + 20, block->data.begin() + 32), "duckiamaduck");
  EXPECT_EQ(std::string(block->data.end() - 8, block->data.end()), "iamaduck");
}

TEST(SourceTreeTest, IdsFollowCreationOrder) {
  IdCounter ids;
  auto root = newDirNode(ids, 3);
  PlacementList list(ids);
  EXPECT_EQ(root->blocks.front()->id, 1);
  EXPECT_EQ(root->id, 2);
  EXPECT_EQ(root->lastAvatar, 2);
  const char* names[] = {"#BannerScreen", "#boot_code", "#os_code", "#misc_code", "#rom_tags"};
  ASSERT_EQ(list.records().size(), 5u);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(list.records()[i]->name, names[i]);
    EXPECT_EQ(list.records()[i]->id, 3 + i);
  }
  const FileRecord& romTags = *list.records()[4];
  EXPECT_EQ(romTags.lastAvatar, 1);
  EXPECT_EQ(romTags.avatars[0], 1);
  EXPECT_EQ(romTags.avatars[1], 226);
  EXPECT_EQ(ids.nextId(), 8);
  EXPECT_NE(list.find("#ROM_TAGS"), nullptr);
  EXPECT_EQ(list.find("rom_tags"), nullptr);
}

// root: files r; dirs A (child A1 with file x), B (file x, child B1), C.
struct Fixture {
  IdCounter ids;
  std::unique_ptr<DirNode> root = newDirNode(ids, 3);
  DirNode* add(DirNode& parent, const std::string& name) {
    DirNode& node = appendChild(parent, newDirNode(ids, 3));
    node.name = name;
    return &node;
  }
  FileRecord* file(DirNode& dir, const std::string& name) {
    FileRecord& record = appendFile(dir, newFileRecord(ids));
    record.name = name;
    return &record;
  }
};

std::vector<std::string> visitOrder(DirNode& root, bool siblingFirst, bool withAfter) {
  std::vector<std::string> order;
  const Visit visit = [&](DirNode& dir) {
    order.push_back(dir.name.empty() ? "root" : dir.name);
    return 0;
  };
  const Visit after = [&](DirNode& dir) {
    order.push_back("/" + (dir.name.empty() ? std::string("root") : dir.name));
    return 0;
  };
  if (siblingFirst) {
    siblingFirstWalk(root, visit, withAfter ? after : nullptr);
  } else {
    preOrderWalk(root, visit);
  }
  return order;
}

TEST(SourceTreeTest, WalksVisitInTheirOwnOrders) {
  Fixture f;
  DirNode* a = f.add(*f.root, "A");
  DirNode* b = f.add(*f.root, "B");
  f.add(*f.root, "C");
  f.add(*a, "A1");
  f.add(*b, "B1");
  f.add(*b, "B2");

  EXPECT_EQ(visitOrder(*f.root, false, false), (std::vector<std::string>{"root", "A", "A1", "B", "B1", "B2", "C"}));
  EXPECT_EQ(visitOrder(*f.root, true, false), (std::vector<std::string>{"root", "A", "B", "C", "B1", "B2", "A1"}));
  // The after step runs once the next-sibling and first-child walks are done:
  // root's blocks, A, B, C, C's subtree, C's files, B's subtree, B's files, ...
  EXPECT_EQ(visitOrder(*f.root, true, true),
            (std::vector<std::string>{"root", "A", "B", "C", "/C", "B1", "B2", "/B2", "/B1", "/B", "A1", "/A1", "/A",
                                      "/root"}));

  // A failing visit stops the walk and its value comes back.
  std::vector<std::string> seen;
  const int result = siblingFirstWalk(*f.root, [&](DirNode& dir) {
    seen.push_back(dir.name);
    return dir.name == "B" ? -1 : 0;
  });
  EXPECT_EQ(result, -1);
  EXPECT_EQ(seen, (std::vector<std::string>{"", "A", "B"}));
}

TEST(SourceTreeTest, FindFileByNameTakesTheFirstMatchOfTheSiblingFirstWalk) {
  Fixture f;
  DirNode* a = f.add(*f.root, "A");
  DirNode* b = f.add(*f.root, "B");
  DirNode* a1 = f.add(*a, "A1");
  FileRecord* inA1 = f.file(*a1, "shared");
  FileRecord* inB = f.file(*b, "shared");
  FileRecord* boot = f.file(*a1, "boot_code");
  FileRecord* deep = f.file(*a1, "only_deep");

  // B is a later sibling of A but is visited before A's child A1.
  EXPECT_EQ(findFileByName(*f.root, "SHARED"), inB);
  EXPECT_EQ(findFileByName(*f.root, "BOOT_CODE"), boot);
  EXPECT_EQ(findFileByName(*f.root, "only_deep"), deep);
  EXPECT_EQ(findFileByName(*f.root, "A1"), nullptr);  // directories are not files
  EXPECT_EQ(findFileByName(*f.root, ""), nullptr);
  // A file of the directory itself comes before any file of its subdirectories.
  FileRecord* top = f.file(*f.root, "shared");
  EXPECT_EQ(findFileByName(*f.root, "shared"), top);
  (void)inA1;
}

TEST(SourceTreeTest, DiscNameOrderFoldsLettersAndBreaksTiesByRawBytes) {
  std::vector<std::string> names = {"\xE9t\xE9", "_x", "B", "readme", "a", "README", "Readme.txt", "a0", "z", "~", "A"};
  std::sort(names.begin(), names.end(), discNameLess);
  EXPECT_EQ(names, (std::vector<std::string>{"A", "a", "a0", "B", "README", "readme", "Readme.txt", "z", "_x", "~",
                                             "\xE9t\xE9"}));
  for (const auto& name : names) EXPECT_FALSE(discNameLess(name, name)) << name;
}

}  // namespace
}  // namespace vornel
