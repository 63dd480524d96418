#include "platform/windows_text.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace vornel {

bool toWide(std::string_view text, std::wstring& wide) {
  wide.clear();
  if (text.empty()) return true;
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (length <= 0) return false;
  wide.resize(static_cast<std::size_t>(length));
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), length) == length;
}

bool toUtf8(std::wstring_view wide, std::string& text) {
  text.clear();
  if (wide.empty()) return true;
  const int size = static_cast<int>(wide.size());
  int length = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), size, nullptr, 0, nullptr, nullptr);
  const bool valid = length > 0;
  const DWORD flags = valid ? WC_ERR_INVALID_CHARS : 0;  // without the flag, U+FFFD stands for a lone surrogate
  if (!valid) length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  text.resize(static_cast<std::size_t>(std::max(length, 0)));
  WideCharToMultiByte(CP_UTF8, flags, wide.data(), size, text.data(), length, nullptr, nullptr);
  return valid;
}

std::string hostErrorText(DWORD code) {
  wchar_t* message = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
      0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
  std::string text;
  if (length > 0) toUtf8(std::wstring_view(message, length), text);
  LocalFree(message);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return text.empty() ? "error " + std::to_string(code) : text;
}

std::string windowsNameProblem(std::string_view name) {
  std::wstring wide;
  if (!toWide(name, wide)) return "the name is not valid UTF-8";
  if (name.empty() || name == "." || name == "..") return "the name is empty or a folder's own link";
  if (name.back() == '.' || name.back() == ' ') return "Windows drops a dot or a space at the end of a name";
  for (const char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || std::string_view("<>:\"/\\|?*").find(c) != std::string_view::npos) {
      return "Windows refuses the characters <>:\"/\\|?* and control characters in a name";
    }
  }
  // The part before the first dot names a device when it is one of these.
  std::string stem(name.substr(0, name.find('.')));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (char& c : stem) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  static constexpr std::array<std::string_view, 4> kDevices = {"CON", "PRN", "AUX", "NUL"};
  const bool numbered = stem.size() == 4 && (stem.starts_with("COM") || stem.starts_with("LPT")) && stem[3] >= '1' &&
                        stem[3] <= '9';
  if (numbered || std::find(kDevices.begin(), kDevices.end(), stem) != kDevices.end()) {
    return "Windows reserves the name " + stem + " for a device";
  }
  return {};
}

long long readAt(HANDLE handle, std::uint64_t offset, std::uint8_t* buffer, std::size_t size) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  if (!ReadFile(handle, buffer, static_cast<DWORD>(std::min(size, kMaxTransfer)), &got, &at)) {
    return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
  }
  return got;
}

namespace {

long long writeSome(HANDLE handle, OVERLAPPED* at, const std::uint8_t* data, std::size_t size) {
  DWORD put = 0;
  if (!WriteFile(handle, data, static_cast<DWORD>(std::min(size, kMaxTransfer)), &put, at)) return -1;
  return put;
}

}  // namespace

long long writeAt(HANDLE handle, std::uint64_t offset, const std::uint8_t* data, std::size_t size) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return writeSome(handle, &at, data, size);
}

long long writeNext(HANDLE handle, const std::uint8_t* data, std::size_t size) {
  return writeSome(handle, nullptr, data, size);
}

}  // namespace vornel
