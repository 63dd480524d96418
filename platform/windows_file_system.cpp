#include "platform/windows_file_system.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/windows_text.h"

namespace vornel {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens a path only to read its status: links and junctions are followed,
// folders open too, and no other program's sharing is disturbed.
HANDLE openForStatus(const std::wstring& path) {
  return CreateFileW(path.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

class WindowsInputFile : public InputFile {
 public:
  explicit WindowsInputFile(HANDLE handle) : handle_(handle) {}
  long long read(std::uint8_t* buffer, std::size_t size) override {
    const long long got = readAt(handle_.get(), position_, buffer, size);
    if (got > 0) position_ += static_cast<std::uint64_t>(got);
    return got;
  }
  bool seek(std::uint64_t offset) override {
    position_ = offset;
    return true;
  }

 private:
  Handle handle_;
  std::uint64_t position_ = 0;
};

// The temporary image file that Ctrl+C, Ctrl+Break or closing the console
// must not leave behind. The host calls the handler on a thread of its own,
// so a lock keeps it from meeting a half-registered path.
std::mutex gTempMutex;
std::wstring gTempPath;

BOOL WINAPI removeTemp(DWORD /*event*/) {
  std::lock_guard lock(gTempMutex);
  // The file was opened with FILE_SHARE_DELETE, so it goes when the process
  // ends and its handle closes.
  if (!gTempPath.empty()) DeleteFileW(gTempPath.c_str());
  return FALSE;  // the host's own handling then ends the process
}

void setTemp(std::wstring path) {
  std::lock_guard lock(gTempMutex);
  gTempPath = std::move(path);
}

// A rename over an output that another program holds open (an emulator, a
// virus scanner) fails with one of these; it is retried for a while.
bool heldOpen(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

constexpr std::chrono::milliseconds kRenameRetry{2000};
constexpr std::chrono::milliseconds kRenamePause{50};

class WindowsOutputFile : public OutputFile {
 public:
  // An empty tempPath writes the output in place (NUL or another device).
  WindowsOutputFile(HANDLE handle, std::wstring tempPath, std::wstring finalPath, DWORD attributes)
      : handle_(handle), tempPath_(std::move(tempPath)), finalPath_(std::move(finalPath)), attributes_(attributes) {}
  ~WindowsOutputFile() override {
    if (tempPath_.empty()) return;
    handle_.close();
    DeleteFileW(tempPath_.c_str());
    setTemp({});
  }
  bool seek(std::uint64_t offset) override {
    position_ = offset;
    return true;
  }
  long long write(const std::uint8_t* data, std::size_t size) override {
    std::size_t done = 0;
    while (done < size) {
      const long long put = writeAt(handle_.get(), position_, data + done, size - done);
      if (put <= 0) return done > 0 ? static_cast<long long>(done) : -1;
      done += static_cast<std::size_t>(put);
      position_ += static_cast<std::uint64_t>(put);
    }
    return static_cast<long long>(done);
  }
  // The blocks go out gathered into writes of up to kMaxTransfer bytes.
  bool writeBlocks(std::uint64_t offset, std::span<const std::uint8_t* const> blocks, std::size_t blockSize) override {
    position_ = offset;
    const std::size_t perWrite = std::max<std::size_t>(1, kMaxTransfer / blockSize);
    for (std::size_t next = 0; next < blocks.size(); next += perWrite) {
      const std::size_t count = std::min(perWrite, blocks.size() - next);
      gathered_.resize(count * blockSize);
      for (std::size_t i = 0; i < count; ++i) std::memcpy(&gathered_[i * blockSize], blocks[next + i], blockSize);
      if (write(gathered_.data(), gathered_.size()) != static_cast<long long>(gathered_.size())) return false;
    }
    return true;
  }
  bool commit() override {
    if (!handle_.close()) return false;
    if (tempPath_.empty()) return true;
    // The replaced file's attributes (hidden, system, archive) carry over.
    if (attributes_ != INVALID_FILE_ATTRIBUTES) SetFileAttributesW(tempPath_.c_str(), attributes_);
    const auto deadline = std::chrono::steady_clock::now() + kRenameRetry;
    while (!MoveFileExW(tempPath_.c_str(), finalPath_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      if (!heldOpen(GetLastError()) || std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(kRenamePause);
    }
    tempPath_.clear();
    setTemp({});
    return true;
  }

 private:
  Handle handle_;
  std::wstring tempPath_;
  std::wstring finalPath_;
  DWORD attributes_;  // to give the image, INVALID_FILE_ATTRIBUTES for none
  std::uint64_t position_ = 0;
  std::vector<std::uint8_t> gathered_;  // kept from one write to the next
};

// The folder part of a path, with its separator; empty for a bare name.
std::wstring folderOf(const std::wstring& path) {
  const std::size_t end = path.find_last_of(L"\\/:");
  return end == std::wstring::npos ? std::wstring() : path.substr(0, end + 1);
}

// Creates a new file beside target exclusively, registered for removal
// before any interrupt can see it; invalid when it cannot be created.
HANDLE createTemp(const std::wstring& target, std::wstring& tempPath) {
  static unsigned counter = 0;
  static bool installed = false;
  std::lock_guard lock(gTempMutex);
  if (!installed) installed = SetConsoleCtrlHandler(removeTemp, TRUE) != 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    tempPath = folderOf(target) + L".vornel-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
               std::to_wstring(counter++);
    const HANDLE handle = CreateFileW(tempPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      gTempPath = tempPath;
      return handle;
    }
    if (GetLastError() != ERROR_FILE_EXISTS) break;
  }
  return INVALID_HANDLE_VALUE;
}

// Where the image goes for an existing output: the file itself, or the
// final target when the path is a link. Empty when it cannot be replaced.
std::wstring finalTarget(HANDLE existing, const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return path;
  std::wstring target(32768, L'\0');
  const DWORD length =
      GetFinalPathNameByHandleW(existing, target.data(), static_cast<DWORD>(target.size()), FILE_NAME_NORMALIZED);
  if (length == 0 || length >= target.size()) return {};
  target.resize(length);
  return target;
}

}  // namespace

bool WindowsFileSystem::listDirectory(const std::string& path, std::vector<std::string>& names) {
  std::wstring folder;
  if (!toWide(path, folder)) return false;
  if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
  // Large fetches: the host hands over many entries per call, and the basic
  // information level skips the short 8.3 names.
  WIN32_FIND_DATAW entry;
  const HANDLE find = FindFirstFileExW((folder + L"*").c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch,
                                       nullptr, FIND_FIRST_EX_LARGE_FETCH);
  names.clear();
  if (find == INVALID_HANDLE_VALUE) {
    // Only an empty drive root lists nothing at all, not even ".".
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    return GetLastError() == ERROR_FILE_NOT_FOUND && attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }
  std::string prefix = path;
  if (!prefix.empty() && prefix.back() != '\\' && prefix.back() != '/') prefix += '\\';
  do {
    const std::wstring_view name(entry.cFileName);
    if (name == L"." || name == L"..") continue;
    std::string utf8;
    if (!toUtf8(name, utf8)) unreadable_.insert(prefix + utf8);
    names.push_back(std::move(utf8));
  } while (FindNextFileW(find, &entry));
  const bool complete = GetLastError() == ERROR_NO_MORE_FILES;
  FindClose(find);
  return complete;
}

FileInfo WindowsFileSystem::stat(const std::string& path) {
  FileInfo info;
  std::wstring wide;
  if (!toWide(path, wide) || unreadable_.count(path) != 0) {
    info.kind = FileKind::Unreadable;
    return info;
  }
  const Handle handle(openForStatus(wide));
  if (!handle.valid()) {
    const DWORD error = GetLastError();
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    const bool isLink = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    const bool notFound = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    if (error == ERROR_CANT_RESOLVE_FILENAME || (notFound && isLink)) {
      info.kind = FileKind::Other;  // a link that leads nowhere
    } else if (notFound) {
      info.kind = FileKind::Missing;
    } else {
      info.kind = FileKind::Unreadable;
    }
    return info;
  }
  BY_HANDLE_FILE_INFORMATION status;
  if (GetFileType(handle.get()) != FILE_TYPE_DISK) {
    info.kind = FileKind::Other;  // a device
    return info;
  }
  if (!GetFileInformationByHandle(handle.get(), &status)) {
    info.kind = FileKind::Unreadable;
    return info;
  }
  const bool directory = (status.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  info.kind = directory ? FileKind::Directory : FileKind::Regular;
  info.size = directory ? 0 : (std::uint64_t{status.nFileSizeHigh} << 32) | status.nFileSizeLow;
  info.device = status.dwVolumeSerialNumber;
  info.inode = (std::uint64_t{status.nFileIndexHigh} << 32) | status.nFileIndexLow;
  return info;
}

std::unique_ptr<InputFile> WindowsFileSystem::openInput(const std::string& path) {
  std::wstring wide;
  if (!toWide(path, wide)) return nullptr;
  const HANDLE handle = CreateFileW(wide.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<WindowsInputFile>(handle);
}

std::unique_ptr<OutputFile> WindowsFileSystem::createOutput(const std::string& path) {
  std::wstring wide;
  if (path.empty() || !toWide(path, wide)) return nullptr;
  std::wstring target = wide;
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  const Handle existing(openForStatus(wide));
  if (existing.valid()) {
    const DWORD type = GetFileType(existing.get());
    if (type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE) {
      // NUL and other devices take the image in place.
      const HANDLE device = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
      if (device == INVALID_HANDLE_VALUE) return nullptr;
      return std::make_unique<WindowsOutputFile>(device, std::wstring(), wide, INVALID_FILE_ATTRIBUTES);
    }
    BY_HANDLE_FILE_INFORMATION status;
    if (!GetFileInformationByHandle(existing.get(), &status)) return nullptr;
    // A folder cannot take an image, and a read-only output is not to be replaced.
    if ((status.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) return nullptr;
    target = finalTarget(existing.get(), wide);
    if (target.empty()) return nullptr;
    attributes = status.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
  }
  std::wstring temp;
  const HANDLE handle = createTemp(target, temp);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<WindowsOutputFile>(handle, temp, target, attributes);
}

}  // namespace vornel
