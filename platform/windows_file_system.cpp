#include "platform/windows_file_system.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include "platform/windows_interrupts.h"
#include "platform/windows_text.h"

namespace vornel {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr const char* kNotUtf8 = "the name is not valid UTF-8";

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
    if (got < 0) error_ = lastErrorText();
    if (got > 0) position_ += static_cast<std::uint64_t>(got);
    return got;
  }
  bool seek(std::uint64_t offset) override {
    position_ = offset;
    return true;
  }
  std::string lastError() const override { return error_; }

 private:
  Handle handle_;
  std::uint64_t position_ = 0;
  std::string error_;
};

// A rename over an output that another program holds open (an emulator, a
// virus scanner) fails with one of these; it is retried for a while.
bool heldOpen(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

constexpr std::chrono::milliseconds kRenameRetry{2000};
constexpr std::chrono::milliseconds kRenamePause{50};

class WindowsOutputFile : public OutputFile {
 public:
  // An empty tempPath writes the output in place (NUL, another device, a
  // pipe, standard output); one that cannot seek is written in order.
  WindowsOutputFile(HANDLE handle, std::wstring tempPath, std::wstring finalPath, DWORD attributes, bool inOrder)
      : handle_(handle),
        tempPath_(std::move(tempPath)),
        finalPath_(std::move(finalPath)),
        attributes_(attributes),
        inOrder_(inOrder) {}
  ~WindowsOutputFile() override {
    if (tempPath_.empty()) return;
    handle_.close();
    DeleteFileW(tempPath_.c_str());
    clearTemp();
  }
  bool inOrder() const override { return inOrder_; }
  // An output written in order only ever stands at its end.
  bool seek(std::uint64_t offset) override {
    if (inOrder_ && offset != position_) return failed("the output cannot seek: it takes the image in order");
    position_ = offset;
    return true;
  }
  long long write(const std::uint8_t* data, std::size_t size) override {
    std::size_t done = 0;
    while (done < size) {
      const long long put = inOrder_ ? writeNext(handle_.get(), data + done, size - done)
                                     : writeAt(handle_.get(), position_, data + done, size - done);
      if (put < 0) failed(lastErrorText());
      if (put == 0) failed("the host took nothing and gave no reason");
      if (put <= 0) return done > 0 ? static_cast<long long>(done) : -1;
      done += static_cast<std::size_t>(put);
      position_ += static_cast<std::uint64_t>(put);
    }
    return static_cast<long long>(done);
  }
  // The blocks go out gathered into writes of up to kMaxTransfer bytes.
  bool writeBlocks(std::uint64_t offset, std::span<const std::uint8_t* const> blocks, std::size_t blockSize) override {
    if (!seek(offset)) return false;
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
    if (!handle_.close()) return failed(lastErrorText());
    if (tempPath_.empty()) return true;
    // The replaced file's attributes (hidden, system, archive) carry over.
    if (attributes_ != INVALID_FILE_ATTRIBUTES) SetFileAttributesW(tempPath_.c_str(), attributes_);
    const auto deadline = std::chrono::steady_clock::now() + kRenameRetry;
    while (!MoveFileExW(tempPath_.c_str(), finalPath_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      const DWORD error = GetLastError();
      if (!heldOpen(error)) return failed(hostErrorText(error));
      if (std::chrono::steady_clock::now() >= deadline) {
        return failed("another program held the output open for two seconds: " + hostErrorText(error));
      }
      std::this_thread::sleep_for(kRenamePause);
    }
    tempPath_.clear();
    clearTemp();
    return true;
  }
  std::string lastError() const override { return error_; }

 private:
  bool failed(std::string reason) {
    error_ = std::move(reason);
    return false;
  }

  Handle handle_;
  std::wstring tempPath_;
  std::wstring finalPath_;
  DWORD attributes_;  // to give the image, INVALID_FILE_ATTRIBUTES for none
  bool inOrder_;
  std::uint64_t position_ = 0;
  std::vector<std::uint8_t> gathered_;  // kept from one write to the next
  std::string error_;
};

// The folder part of a path, with its separator; empty for a bare name.
std::wstring folderOf(const std::wstring& path) {
  const std::size_t end = path.find_last_of(L"\\/:");
  return end == std::wstring::npos ? std::wstring() : path.substr(0, end + 1);
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

// Whether a handle refuses to be positioned: a pipe, the console, most
// devices. NUL takes any position, so it is written in place.
bool cannotSeek(HANDLE handle) {
  LARGE_INTEGER at = {};
  return GetFileType(handle) == FILE_TYPE_PIPE || !SetFilePointerEx(handle, at, nullptr, FILE_CURRENT);
}

}  // namespace

bool WindowsFileSystem::listDirectory(const std::string& path, std::vector<std::string>& names) {
  std::wstring folder;
  if (!toWide(path, folder)) return failed(kNotUtf8);
  if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
  // Large fetches: the host hands over many entries per call, and the basic
  // information level skips the short 8.3 names.
  WIN32_FIND_DATAW entry;
  const HANDLE find = FindFirstFileExW((folder + L"*").c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch,
                                       nullptr, FIND_FIRST_EX_LARGE_FETCH);
  names.clear();
  if (find == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    // Only an empty drive root lists nothing at all, not even ".".
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      return failed("it is not a folder");
    }
    return (error == ERROR_FILE_NOT_FOUND && attributes != INVALID_FILE_ATTRIBUTES) || failed(hostErrorText(error));
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
  const DWORD error = GetLastError();
  FindClose(find);
  return error == ERROR_NO_MORE_FILES || failed(hostErrorText(error));
}

FileInfo statusRefused(DWORD error, DWORD attributes) {
  FileInfo info;
  info.reason = hostErrorText(error);
  const bool isLink = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  const bool notFound = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  if (error == ERROR_CANT_RESOLVE_FILENAME || (notFound && isLink)) {
    info.kind = FileKind::Other;
    if (notFound) info.reason = "it is a link that leads nowhere";
  } else {
    info.kind = notFound ? FileKind::Missing : FileKind::Unreadable;
  }
  return info;
}

FileInfo WindowsFileSystem::stat(const std::string& path) {
  FileInfo info;
  info.kind = FileKind::Unreadable;
  std::wstring wide;
  if (!toWide(path, wide)) {
    info.reason = kNotUtf8;
    return info;
  }
  if (unreadable_.count(path) != 0) {
    info.reason = "the name is not valid UTF-16";
    return info;
  }
  const Handle handle(openForStatus(wide));
  if (!handle.valid()) {
    const DWORD error = GetLastError();
    return statusRefused(error, GetFileAttributesW(wide.c_str()));
  }
  BY_HANDLE_FILE_INFORMATION status;
  if (GetFileType(handle.get()) != FILE_TYPE_DISK) {
    info.kind = FileKind::Other;
    info.reason = "it is a device";
    return info;
  }
  if (!GetFileInformationByHandle(handle.get(), &status)) {
    info.reason = lastErrorText();
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
  if (!toWide(path, wide)) return failed(kNotUtf8), nullptr;
  const HANDLE handle = CreateFileW(wide.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return failed(lastErrorText()), nullptr;
  return std::make_unique<WindowsInputFile>(handle);
}

std::unique_ptr<OutputFile> WindowsFileSystem::createOutput(const std::string& path) {
  // Standard output is taken as it is and always written in order: it may
  // be a pipe, and a redirected file may stand at any offset. Its own
  // handle is a copy, which the image closes.
  if (path == "-") {
    HANDLE copy = INVALID_HANDLE_VALUE;
    if (!DuplicateHandle(GetCurrentProcess(), GetStdHandle(STD_OUTPUT_HANDLE), GetCurrentProcess(), &copy, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
      return failed(lastErrorText()), nullptr;
    }
    return std::make_unique<WindowsOutputFile>(copy, std::wstring(), std::wstring(), INVALID_FILE_ATTRIBUTES, true);
  }
  std::wstring wide;
  if (path.empty()) return failed("the output path is empty"), nullptr;
  if (!toWide(path, wide)) return failed(kNotUtf8), nullptr;
  std::wstring target = wide;
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  const Handle existing(openForStatus(wide));
  if (existing.valid()) {
    const DWORD type = GetFileType(existing.get());
    if (type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE) {
      // NUL and other devices take the image in place.
      const HANDLE device = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
      if (device == INVALID_HANDLE_VALUE) return failed(lastErrorText()), nullptr;
      return std::make_unique<WindowsOutputFile>(device, std::wstring(), wide, INVALID_FILE_ATTRIBUTES,
                                                 cannotSeek(device));
    }
    BY_HANDLE_FILE_INFORMATION status;
    if (!GetFileInformationByHandle(existing.get(), &status)) return failed(lastErrorText()), nullptr;
    // A folder cannot take an image, and a read-only output is not to be replaced.
    if ((status.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return failed("it is a folder"), nullptr;
    if ((status.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) return failed("the file is read-only"), nullptr;
    target = finalTarget(existing.get(), wide);
    if (target.empty()) return failed(lastErrorText()), nullptr;
    attributes = status.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
  }
  std::wstring temp;
  const HANDLE handle = createTemp(folderOf(target), L".vornel-", temp);
  if (handle == INVALID_HANDLE_VALUE) return failed(lastErrorText()), nullptr;
  return std::make_unique<WindowsOutputFile>(handle, temp, target, attributes, false);
}

std::string WindowsFileSystem::lastError() const { return error_; }

}  // namespace vornel
