// Fuzz target for the layout reader: any text is read or refused with a line
// inside it; a document read has the root first, ids from 1 up, at most 8
// avatars, and every copy (the root's are the label's) inside the disc.

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "layout/free_blocks_pool.h"
#include "layout/layout_document.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  vornel::LayoutDocument document;
  const vornel::LayoutError error = vornel::readLayoutDocument(text, document);
  const auto lines = 1 + std::count(text.begin(), text.end(), '\n');
  bool sound = error.line == 0 ? !document.entries.empty() && document.entries[0].path == "/"
                               : error.line >= 1 && error.line <= lines && document.entries.empty();
  for (const vornel::LayoutEntry& e : document.entries) {
    sound = sound && e.id >= 1 && e.id <= vornel::kMaxLayoutId && e.avatars.size() <= 8;
    for (const std::int32_t avatar : &e == &document.entries[0] ? document.rootAvatars : e.avatars) {
      sound = sound && (e.blockCount == 0 || (avatar >= 0 && avatar + e.blockCount <= vornel::kPoolSize));
    }
  }
  if (!sound) __builtin_trap();
  return 0;
}
