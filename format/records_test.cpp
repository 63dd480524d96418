#include "format/records.h"

#include <gtest/gtest.h>

namespace vornel {
namespace {

TEST(RecordsTest, TypeIsUpToFourCharactersAfterTheLastFullStop) {
  const char* cases[][2] = {
      {"intro.str", "str "}, {"archive.tar.gz", "gz  "}, {"clip.MPEG2", "MPEG"}, {"boot_code", "    "},
      {".profile", "    "},  {"readme.", "    "},        {"a", "    "},          {"", "    "},
      {"a.b", "b   "}};
  for (const auto& [name, type] : cases) EXPECT_EQ(std::string(entryTypeFromName(name).data(), 4), type) << name;
}

}  // namespace
}  // namespace vornel
