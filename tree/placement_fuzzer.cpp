// Fuzz target for the placement file parser: whatever a placement file holds,
// the record ends with a lastAvatar from 0 to 3 and only slots 0 to 3 used,
// each -1 or a number in the text (its digits kept above 2147483647).

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "tree/scanner.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), std::min(size, vornel::kPlacementFileLimit));
  vornel::PlacementRecord record;
  vornel::parsePlacementText(text, record);
  bool sound = record.lastAvatar >= 0 && record.lastAvatar <= 3;
  for (int slot = 0; slot < vornel::kAvatarSlots; ++slot) {
    const std::int64_t value = record.avatars[slot];
    sound = sound && (value == -1 || (slot < 4 && value >= 0 && (value > 2147483647) != record.written[slot].empty() &&
                                      (value > 0xFFFFFFFFll || text.find(std::to_string(value)) != text.npos)));
  }
  if (!sound) __builtin_trap();
  return 0;
}
