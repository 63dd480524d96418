#pragma once

// Helpers for the format tests: record bytes shown as hex text, so that a
// mismatch prints the expected and the actual bytes side by side.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace vornel::test {

// "0A FF ..." with a space after every byte.
inline std::string hex(const std::uint8_t* at, std::size_t size) {
  std::string text;
  char buffer[4];
  for (std::size_t i = 0; i < size; ++i) {
    std::snprintf(buffer, sizeof buffer, "%02X ", at[i]);
    text += buffer;
  }
  return text;
}

inline std::string hex(std::string_view text) {
  return hex(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

inline std::string zeros(std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) text += "00 ";
  return text;
}

// The label entry after its flags, for a root with id 2: "*lbl", 2048,
// 132 bytes, 1 block, burst 1, gap 0, "Disc label", avatars 0 and 225.
inline std::string labelEntryAfterFlags() {
  return "00 00 00 02 2A 6C 62 6C 00 00 08 00 00 00 00 84 00 00 00 01 00 00 00 01 00 00 00 00 " +
         hex("Disc label") + zeros(22) + "00 00 00 01 00 00 00 00 00 00 00 E1 ";
}

}  // namespace vornel::test
