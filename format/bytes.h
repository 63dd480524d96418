#pragma once

// Byte-level helpers and the fixed layout of the on-disc records. Every
// number on the disc is a 32-bit big-endian value, except the volume id of
// the disc label, which is little-endian. Values are built with shifts, so
// the bytes are the same on any host and unaligned offsets are fine.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace vornel {

inline constexpr std::size_t kBlockSize = 2048;
inline constexpr char kFillerPattern[] = "iamaduck";  // 8 bytes, repeated in every free byte

inline void storeBE32(std::uint8_t* at, std::int64_t value) {
  const auto v = static_cast<std::uint32_t>(value);
  at[0] = static_cast<std::uint8_t>(v >> 24);
  at[1] = static_cast<std::uint8_t>(v >> 16);
  at[2] = static_cast<std::uint8_t>(v >> 8);
  at[3] = static_cast<std::uint8_t>(v);
}

inline std::int32_t loadBE32(const std::uint8_t* at) {
  const std::uint32_t v = (std::uint32_t{at[0]} << 24) | (std::uint32_t{at[1]} << 16) |
                          (std::uint32_t{at[2]} << 8) | std::uint32_t{at[3]};
  return static_cast<std::int32_t>(v);
}

inline void storeLE32(std::uint8_t* at, std::int64_t value) {
  const auto v = static_cast<std::uint32_t>(value);
  at[0] = static_cast<std::uint8_t>(v);
  at[1] = static_cast<std::uint8_t>(v >> 8);
  at[2] = static_cast<std::uint8_t>(v >> 16);
  at[3] = static_cast<std::uint8_t>(v >> 24);
}

inline std::int32_t loadLE32(const std::uint8_t* at) {
  return static_cast<std::int32_t>(std::uint32_t{at[0]} | (std::uint32_t{at[1]} << 8) | (std::uint32_t{at[2]} << 16) |
                                   (std::uint32_t{at[3]} << 24));
}

// Whether a builder that packs entries in order marks an entry of `size`
// bytes at `offset` last in its block: a second entry of its own size would
// not fit after it.
inline bool predictedLastInBlock(std::size_t offset, std::size_t size) { return offset + 2 * size > kBlockSize; }

// Fills size bytes with the filler pattern in its block phase: byte i holds
// character i mod 8 of "iamaduck".
inline void fillWithPattern(std::uint8_t* at, std::size_t size) {
  for (std::size_t i = 0; i < size; i += 8) std::memcpy(at + i, kFillerPattern, size - i < 8 ? size - i : 8);
}

// A whole block of the filler pattern.
inline const std::array<std::uint8_t, kBlockSize>& fillerBlock() {
  static const std::array<std::uint8_t, kBlockSize> block = [] {
    std::array<std::uint8_t, kBlockSize> b;
    fillWithPattern(b.data(), b.size());
    return b;
  }();
  return block;
}

// The disc compares names byte by byte with a-z folded to A-Z.
inline unsigned char foldCase(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 'a' && u <= 'z') ? static_cast<unsigned char>(u - 'a' + 'A') : u;
}

// The name with a-z folded to A-Z: names the disc cannot tell apart fold to
// the same text.
inline std::string foldName(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) c = static_cast<char>(foldCase(c));
  return folded;
}

// BlockHeader: the first 20 bytes of every directory block.
namespace header {
inline constexpr std::size_t kNextBlock = 0;
inline constexpr std::size_t kPrevBlock = 4;
inline constexpr std::size_t kFlags = 8;
inline constexpr std::size_t kFirstFreeByte = 12;
inline constexpr std::size_t kFirstEntryOffset = 16;
inline constexpr std::size_t kSize = 20;
static_assert(kFirstEntryOffset + 4 == kSize);
}  // namespace header

// DirEntry: 68 bytes followed by 4 bytes per avatar.
namespace entry {
inline constexpr std::size_t kFlags = 0;
inline constexpr std::size_t kId = 4;
inline constexpr std::size_t kType = 8;
inline constexpr std::size_t kBlockSize = 12;
inline constexpr std::size_t kByteCount = 16;
inline constexpr std::size_t kBlockCount = 20;
inline constexpr std::size_t kBurst = 24;
inline constexpr std::size_t kGap = 28;
inline constexpr std::size_t kName = 32;
inline constexpr std::size_t kNameSize = 32;
inline constexpr std::size_t kLastAvatar = 64;
inline constexpr std::size_t kAvatars = 68;
static_assert(kLastAvatar + 4 == kAvatars);

inline constexpr std::uint32_t kKindFile = 2;
inline constexpr std::uint32_t kKindLabel = 6;
inline constexpr std::uint32_t kKindDirectory = 7;
inline constexpr std::uint32_t kLastInBlock = 0x40000000;
inline constexpr std::uint32_t kLastInDirectory = 0x80000000;
}  // namespace entry

// DiscLabel: 132 bytes at the start of blocks 0 and 225.
namespace label {
inline constexpr std::size_t kRecordType = 0;
inline constexpr std::size_t kSyncBytes = 1;
inline constexpr std::size_t kRecordVersion = 6;
inline constexpr std::size_t kVolumeFlags = 7;
inline constexpr std::size_t kVolumeComment = 8;
inline constexpr std::size_t kVolumeLabel = 40;
inline constexpr std::size_t kVolumeId = 72;
inline constexpr std::size_t kBlockSize = 76;
inline constexpr std::size_t kBlockCount = 80;
inline constexpr std::size_t kRootDirId = 84;
inline constexpr std::size_t kRootDirBlocks = 88;
inline constexpr std::size_t kRootDirBlockSize = 92;
inline constexpr std::size_t kRootDirLastAvatar = 96;
inline constexpr std::size_t kRootDirAvatars = 100;
inline constexpr std::size_t kSize = 132;
static_assert(kRootDirAvatars + 8 * 4 == kSize);
}  // namespace label

}  // namespace vornel
