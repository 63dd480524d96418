// windows.h comes first: shellapi.h needs its definitions.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <malloc.h>
#include <shellapi.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "platform/host.h"
#include "platform/memory_chunks.h"
#include "platform/quiet_thread.h"
#include "platform/windows_file_system.h"
#include "platform/windows_text.h"

namespace vornel {

namespace {

UINT gSavedOutputCodePage = 0;

void restoreCodePage() { SetConsoleOutputCP(gSavedOutputCodePage); }

}  // namespace

std::unique_ptr<HostCommandLine> startHost(int argc, char** argv) {
  // The text goes out as the same bytes as on Linux: "\n" stays "\n", and
  // the image on standard output stays as it is.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  // A console shows that UTF-8 text as such, names outside ASCII included;
  // the console gets its own code page back at the end.
  gSavedOutputCodePage = GetConsoleOutputCP();
  if (gSavedOutputCodePage != 0 && gSavedOutputCodePage != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
    std::atexit(restoreCodePage);
  }
  // The narrow argv is in the ANSI code page, which garbles most names:
  // the wide command line holds them as typed.
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return std::make_unique<HostCommandLine>(std::vector<std::string>(argv, argv + argc));
  std::vector<std::string> arguments(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) toUtf8(wide[i], arguments[static_cast<std::size_t>(i)]);
  LocalFree(wide);
  return std::make_unique<HostCommandLine>(std::move(arguments));
}

std::unique_ptr<FileSystem> newHostFileSystem() { return std::make_unique<WindowsFileSystem>(); }

// Ctrl+C and the other console events reach a thread of their own, so no
// thread needs to keep away from them.
std::thread startQuietThread(std::function<void()> function) { return std::thread(std::move(function)); }

void* allocateMemoryChunk() {
  // Twice the size reserved, so that an aligned chunk lies inside; only
  // that chunk takes memory.
  void* reserved = VirtualAlloc(nullptr, 2 * kMemoryChunkSize, MEM_RESERVE, PAGE_NOACCESS);
  if (reserved == nullptr) return nullptr;
  const auto address = reinterpret_cast<std::uintptr_t>(reserved);
  char* chunk = static_cast<char*>(reserved) + (kMemoryChunkSize - address % kMemoryChunkSize) % kMemoryChunkSize;
  return VirtualAlloc(chunk, kMemoryChunkSize, MEM_COMMIT, PAGE_READWRITE);
}

void* allocatePageAligned(std::size_t size) { return _aligned_malloc(size, kPageSize); }

void freePageAligned(void* memory) { _aligned_free(memory); }

// Windows has no cheap measure of the heap that every version (and Wine)
// provides: HeapSummary is missing before Windows 10 and under Wine, and a
// walk of the heap is too slow to take at every line of a listing. Nothing
// is measured here; the POSIX host measures.
std::size_t heapBytesInUse() { return 0; }

}  // namespace vornel
