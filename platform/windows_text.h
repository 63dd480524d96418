#pragma once

// Text between the programs (UTF-8) and the Windows calls (UTF-16), and the
// names a Windows folder can hold.

#include <windows.h>

#include <string>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>

namespace vornel {

// The UTF-16 form of UTF-8 text; false when the text is not valid UTF-8.
bool toWide(std::string_view text, std::wstring& wide);
// The UTF-8 form of UTF-16 text; false when it is not valid UTF-16 (a lone
// surrogate), and text then holds it with U+FFFD in place of what is not.
bool toUtf8(std::wstring_view wide, std::string& text);
// The host's own text for an error code, such as "Access is denied.".
std::string hostErrorText(DWORD code);
// The host's own text for GetLastError().
inline std::string lastErrorText() { return hostErrorText(GetLastError()); }

// Why a Windows folder cannot hold an entry of this name as it is: a
// reserved device name (with or without an extension), a name ending in a
// dot or a space, a character Windows refuses, or bytes that are not UTF-8.
// Empty when it can.
std::string windowsNameProblem(std::string_view name);

// Owns a Windows handle and closes it once.
class Handle {
 public:
  explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  Handle(Handle&& other) noexcept : handle_(other.release()) {}
  Handle& operator=(Handle&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~Handle() { close(); }

  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  // Closes the handle it owns; false when the host reports a failure.
  bool close() {
    if (!valid()) return true;
    return CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE)) != 0;
  }
  // Gives the handle up without closing it.
  HANDLE release() { return std::exchange(handle_, INVALID_HANDLE_VALUE); }
  void reset(HANDLE handle) {
    close();
    handle_ = handle;
  }

 private:
  HANDLE handle_;
};

// Positioned reads and writes on a handle opened for synchronous I/O, at
// most kMaxTransfer bytes per call. The count moved, -1 on an error; a read
// at or past the end moves 0.
inline constexpr std::size_t kMaxTransfer = std::size_t{1} << 20;
long long readAt(HANDLE handle, std::uint64_t offset, std::uint8_t* buffer, std::size_t size);
long long writeAt(HANDLE handle, std::uint64_t offset, const std::uint8_t* data, std::size_t size);
// A write at the handle's own position, for a handle that cannot seek.
long long writeNext(HANDLE handle, const std::uint8_t* data, std::size_t size);

}  // namespace vornel
