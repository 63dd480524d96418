#include "platform/windows_interrupts.h"

#include <mutex>
#include <string>

namespace vornel {

namespace {

std::mutex gTempMutex;
std::wstring gTempPath;

}  // namespace

BOOL WINAPI removeTempOnEvent(DWORD /*event*/) {
  std::lock_guard lock(gTempMutex);
  if (!gTempPath.empty()) DeleteFileW(gTempPath.c_str());
  gTempPath.clear();
  return FALSE;  // the host's own handling then ends the program
}

HANDLE createTemp(const std::wstring& folder, const std::wstring& prefix, std::wstring& path) {
  static bool installed = false;
  static unsigned counter = 0;
  std::lock_guard lock(gTempMutex);
  if (!installed) installed = SetConsoleCtrlHandler(removeTempOnEvent, TRUE) != 0;
  // A name that happens to be taken is tried again with the next number.
  for (int attempt = 0; attempt < 100; ++attempt) {
    path = folder + prefix + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(counter++);
    const HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                      nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      gTempPath = path;
      return handle;
    }
    if (GetLastError() != ERROR_FILE_EXISTS) break;
  }
  path.clear();
  return INVALID_HANDLE_VALUE;
}

void clearTemp() {
  std::lock_guard lock(gTempMutex);
  gTempPath.clear();
}

}  // namespace vornel
