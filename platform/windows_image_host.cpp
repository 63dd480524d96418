#include <windows.h>

#include <algorithm>

#include "platform/host.h"
#include "platform/image_file.h"
#include "platform/windows_text.h"

namespace vornel {

namespace {

std::string reason(const std::string& what) { return what + ": " + hostErrorText(GetLastError()); }

class WindowsImageFile : public ImageFile {
 public:
  WindowsImageFile(HANDLE handle, std::uint64_t size) : handle_(handle), size_(size) {}
  std::uint64_t size() const override { return size_; }
  bool readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) override {
    if (offset > size_ || size > size_ - offset) return false;
    while (size > 0) {
      const long long got = vornel::readAt(handle_.get(), offset, buffer, size);
      if (got <= 0) return false;
      buffer += got;
      offset += static_cast<std::uint64_t>(got);
      size -= static_cast<std::size_t>(got);
    }
    return true;
  }

 private:
  Handle handle_;
  std::uint64_t size_;
};

// Keeps the path of the current folder. Every folder below the root is one
// this class created itself, and files are created only as new entries, so
// nothing is created through a junction or a link. A name Windows cannot
// hold as it is (a device name, a trailing dot) is refused with its reason.
class WindowsExtractTarget : public ExtractTarget {
 public:
  explicit WindowsExtractTarget(std::wstring root) : folder_(std::move(root)) {}

  bool enterNewDirectory(const std::string& name, std::string& error) override {
    std::wstring path;
    if (!entryPath(name, path, error)) return false;
    if (!CreateDirectoryW(path.c_str(), nullptr)) return fail(error, "cannot create directory " + name);
    folder_ = path + L'\\';
    return true;
  }
  bool leaveDirectory(std::string& /*error*/) override {
    folder_.erase(folder_.find_last_of(L'\\', folder_.size() - 2) + 1);
    return true;
  }
  bool createFile(const std::string& name, std::string& error) override {
    std::wstring path;
    if (!entryPath(name, path, error)) return false;
    file_.reset(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file_.valid() || fail(error, "cannot create file " + name);
  }
  bool writeFile(const std::uint8_t* data, std::size_t size, std::string& error) override {
    while (size > 0) {
      DWORD put = 0;
      if (!WriteFile(file_.get(), data, static_cast<DWORD>(std::min(size, kMaxTransfer)), &put, nullptr) ||
          put == 0) {
        return fail(error, "cannot write file");
      }
      data += put;
      size -= put;
    }
    return true;
  }
  bool closeFile(std::string& error) override { return file_.close() || fail(error, "cannot write file"); }

 private:
  static bool fail(std::string& error, const std::string& what) {
    error = reason(what);
    return false;
  }
  bool entryPath(const std::string& name, std::wstring& path, std::string& error) {
    error = windowsNameProblem(name);
    if (!error.empty()) return false;
    toWide(name, path);
    path.insert(0, folder_);
    return true;
  }

  std::wstring folder_;  // ends with "\"
  Handle file_;
};

bool isEmptyFolder(const std::wstring& folder) {
  WIN32_FIND_DATAW entry;
  const HANDLE find = FindFirstFileExW((folder + L"*").c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch,
                                       nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  bool empty = true;
  do {
    const std::wstring_view name(entry.cFileName);
    if (name != L"." && name != L"..") empty = false;
  } while (empty && FindNextFileW(find, &entry));
  FindClose(find);
  return empty;
}

class WindowsImageHost : public ImageHost {
 public:
  std::unique_ptr<ImageFile> openImage(const std::string& path, std::string& error) override {
    std::wstring wide;
    if (!toWide(path, wide)) {
      error = "cannot open " + path + ": the name is not valid UTF-8";
      return nullptr;
    }
    Handle handle(CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle.valid()) {
      error = reason("cannot open " + path);
      return nullptr;
    }
    BY_HANDLE_FILE_INFORMATION status;
    if (GetFileType(handle.get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle.get(), &status) ||
        (status.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      error = "cannot read " + path + ": not a regular file";
      return nullptr;
    }
    const std::uint64_t size = (std::uint64_t{status.nFileSizeHigh} << 32) | status.nFileSizeLow;
    return std::make_unique<WindowsImageFile>(handle.release(), size);
  }
  std::unique_ptr<ExtractTarget> openExtractRoot(const std::string& path, std::string& error) override {
    std::wstring folder;
    if (!toWide(path, folder)) {
      error = "cannot create " + path + ": the name is not valid UTF-8";
      return nullptr;
    }
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      error = reason("cannot create " + path);
      return nullptr;
    }
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      error = "cannot open directory " + path + ": not a directory";
      return nullptr;
    }
    if (folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
    if (!isEmptyFolder(folder)) {
      error = path + " is not empty";
      return nullptr;
    }
    return std::make_unique<WindowsExtractTarget>(folder);
  }
};

}  // namespace

std::unique_ptr<ImageHost> newHostImageHost() { return std::make_unique<WindowsImageHost>(); }

}  // namespace vornel
