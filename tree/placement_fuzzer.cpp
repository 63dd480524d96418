// Fuzz target for the placement file parser. Each input is the content of a
// placement file; the parser's result is checked against its invariants and
// against a small independent model of the format.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "tree/scanner.h"
#include "tree/source_tree.h"

namespace {



constexpr std::uint64_t kLargest32 = 0xFFFFFFFFull;

// What the model expects: slots 0..3 (-1 when unset) and lastAvatar. A value
// above kLargest32 only has to stay above it in the parser's result.
struct Expected {
  std::int64_t slots[4] = {-1, -1, -1, -1};
  int lastAvatar = 3;
};

bool isBlank(std::uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

Expected model(const std::uint8_t* data, std::size_t size) {
  Expected expected;
  std::size_t end = 0;
  while (end < size && data[end] != 0) ++end;  // the text stops at a zero byte
  int count = 0;
  std::size_t i = 0;
  while (count < 8) {
    while (i < end && isBlank(data[i])) ++i;
    if (i == end) break;
    const std::size_t start = i;
    while (i < end && !isBlank(data[i])) ++i;
    bool allDigits = true;
    std::uint64_t value = 0;
    for (std::size_t k = start; k < i; ++k) {
      if (data[k] < '0' || data[k] > '9') {
        allDigits = false;
        break;
      }
      // Anything past 32 bits is only "too large"; stop growing there.
      if (value <= kLargest32) value = value * 10 + (data[k] - '0');
    }
    if (!allDigits) break;
    expected.slots[count % 4] = value > kLargest32 ? static_cast<std::int64_t>(kLargest32) + 1
                                                   : static_cast<std::int64_t>(value);
    ++count;
  }
  expected.lastAvatar = (count + 3) % 4;
  return expected;
}

void check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The reader hands the parser at most this many bytes of a file.
  if (size > vornel::kPlacementFileLimit) size = vornel::kPlacementFileLimit;
  vornel::PlacementRecord record;
  vornel::parsePlacementText(std::string_view(reinterpret_cast<const char*>(data), size), record);

  check(record.lastAvatar >= 0 && record.lastAvatar <= 3);
  for (int slot = 0; slot < 4; ++slot) check(record.avatars[slot] == -1 || record.avatars[slot] >= 0);
  for (int slot = 4; slot < vornel::kAvatarSlots; ++slot) check(record.avatars[slot] == -1);

  const Expected expected = model(data, size);
  check(record.lastAvatar == expected.lastAvatar);
  for (int slot = 0; slot < 4; ++slot) {
    if (expected.slots[slot] > static_cast<std::int64_t>(kLargest32)) {
      check(record.avatars[slot] > static_cast<std::int64_t>(kLargest32));
    } else {
      check(record.avatars[slot] == expected.slots[slot]);
    }
  }
  return 0;
}
