#include "tree/scanner.h"

#include <gtest/gtest.h>

#include <array>

namespace vornel {
namespace {

TEST(ScannerTest, PlacementFilesAreParsedWithTheirLimits) {
  const struct {
    const char* text;
    int lastAvatar;
    std::vector<std::int64_t> slots;  // slots 0-3
  } cases[] = {
      {"300 500", 1, {300, 500, -1, -1}}, {"300\r\n500", 1, {300, 500, -1, -1}}, {"1\t2 3 4", 3, {1, 2, 3, 4}},
      {"300 500\n", 1, {300, 500, -1, -1}},  // a line end after a number keeps it
      {"1 2 3 4 5", 0, {5, 2, 3, 4}}, {"1 2 3 4 5 6 7 8", 3, {5, 6, 7, 8}}, {"1 2 3 4 5 6 7 8 9 10", 3, {5, 6, 7, 8}},
      {"7 12a 9", 0, {7, -1, -1, -1}},  // a token that is not all digits ends the reading
      {"x", 3, {-1, -1, -1, -1}}, {"   ", 3, {-1, -1, -1, -1}},
      {"4294967296", 0, {std::int64_t{1} << 32, -1, -1, -1}},  // too large for 32 bits: no wrap
  };
  for (const auto& c : cases) {
    PlacementRecord record;  // the text is followed by more, as in a larger buffer, that must not be read
    const std::string buffer = c.text + std::string(" 9");
    parsePlacementText(std::string_view(buffer).substr(0, buffer.size() - 2), record);
    EXPECT_EQ(record.lastAvatar, c.lastAvatar) << c.text;
    EXPECT_EQ(std::vector<std::int64_t>(record.avatars.begin(), record.avatars.begin() + 4), c.slots) << c.text;
  }
  // Numbers above 2147483647 keep their digits as written; a smaller one
  // later in the same slot (the fifth number, in slot 0) forgets them.
  PlacementRecord huge;
  parsePlacementText("00099999999999999999 2147483648 2147483647 7 5", huge);
  EXPECT_EQ(huge.written, (std::array<std::string, 4>{"", "2147483648", "", ""}));
}

}  // namespace
}  // namespace vornel
