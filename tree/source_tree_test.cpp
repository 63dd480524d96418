#include "tree/source_tree.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace vornel {
namespace {

// root: dirs A (child A1 with files shared and boot_code), B (file shared,
// children B1 and B2), C.
struct Tree {
  IdCounter ids;
  std::unique_ptr<DirNode> root = newDirNode(ids, 3);
  DirNode& dir(DirNode& parent, const std::string& name) {
    DirNode& node = appendChild(parent, newDirNode(ids, 3));
    node.name = name;
    return node;
  }
  FileRecord* file(DirNode& dir, const std::string& name) {
    FileRecord& record = appendFile(dir, newFileRecord(ids));
    record.name = name;
    return &record;
  }
  DirNode &a = dir(*root, "A"), &b = dir(*root, "B"), &c = dir(*root, "C"), &a1 = dir(a, "A1");
  FileRecord *inA1 = file(a1, "shared"), *boot = file(a1, "boot_code"), *inB = file(b, "shared");
};

TEST(SourceTreeTest, WalksVisitInTheirOwnOrdersAndFindFilesSiblingsFirst) {
  Tree t;
  t.dir(t.b, "B1");
  t.dir(t.b, "B2");
  std::vector<std::string> order;
  const auto visit = [&](std::string prefix) {
    return [&order, prefix](DirNode& dir) {
      order.push_back(prefix + (dir.name.empty() ? "root" : dir.name));
      return dir.name == "stop" ? -1 : 0;
    };
  };
  preOrderWalk(*t.root, visit(""));
  EXPECT_EQ(order, (std::vector<std::string>{"root", "A", "A1", "B", "B1", "B2", "C"}));
  // The after step runs once the next-sibling and first-child walks are done.
  order.clear();
  siblingFirstWalk(*t.root, visit(""), visit("/"));
  EXPECT_EQ(order, (std::vector<std::string>{"root", "A", "B", "C", "/C", "B1", "B2", "/B2", "/B1", "/B", "A1", "/A1",
                                             "/A", "/root"}));
  // A failing visit stops the walk and its value comes back.
  t.b.name = "stop";
  order.clear();
  EXPECT_EQ(siblingFirstWalk(*t.root, visit("")), -1);
  EXPECT_EQ(order, (std::vector<std::string>{"root", "A", "stop"}));
  // B is a later sibling of A but is visited before A's child A1.
  EXPECT_EQ(findFileByName(*t.root, "SHARED"), t.inB);
  EXPECT_EQ(findFileByName(*t.root, "BOOT_CODE"), t.boot);
  EXPECT_EQ(findFileByName(*t.root, "A1"), nullptr);  // directories are not files
  EXPECT_EQ(findFileByName(*t.root, ""), nullptr);
  FileRecord* top = t.file(*t.root, "shared");  // a directory's own files come first
  EXPECT_EQ(findFileByName(*t.root, "shared"), top);
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
