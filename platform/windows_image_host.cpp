#include <windows.h>

#include <algorithm>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "platform/host.h"
#include "platform/image_file.h"
#include "platform/windows_interrupts.h"
#include "platform/windows_text.h"

namespace vornel {

namespace {

std::string reason(const std::string& what) { return what + ": " + hostErrorText(GetLastError()); }

class WindowsImageFile : public ImageFile {
 public:
  WindowsImageFile(HANDLE handle, std::uint64_t size) : handle_(handle), size_(size) {}
  std::uint64_t size() const override { return size_; }
  bool readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) override {
    return readWhole(size_, offset, buffer, size, [this](std::uint64_t at, std::uint8_t* into, std::size_t count) {
      return vornel::readAt(handle_.get(), at, into, count);
    });
  }

 private:
  Handle handle_;
  std::uint64_t size_;
};

// The key under which Windows compares two names of a folder: the name in
// upper case, as the host's case-insensitive comparison folds it.
std::wstring caseKey(const std::wstring& name) {
  std::wstring key(name.size(), L'\0');
  const int length = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, name.c_str(),
                                   static_cast<int>(name.size()), key.data(), static_cast<int>(key.size()), nullptr,
                                   nullptr, 0);
  key.resize(static_cast<std::size_t>(std::max(length, 0)));
  return length > 0 ? key : name;
}

// Opens a folder to hold it: no other program can rename, move or remove it
// while the handle is open (it is not shared for deletion), so every path
// below it goes on naming the same folders. `flags` may keep a junction or
// a link from being followed.
HANDLE holdFolder(const std::wstring& path, DWORD flags) {
  return CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
}

// Holds a handle on every folder of the current path, the root first. Each
// folder below the root is one this class created and opened without
// following a junction or a link, and held from then on; its path starts
// from the root's final path ("\\?\" and the drive), so a deep tree is not
// held to the short path limit. A file is written under a temporary name in
// its folder and renamed through its own handle, never over an existing
// entry, only when it is complete. A name Windows cannot hold as it is (a
// device name, a trailing dot, an earlier name of the folder in another
// case) is refused with its reason.
class WindowsExtractTarget : public ExtractTarget {
 public:
  WindowsExtractTarget(HANDLE root, std::wstring path) { folders_.push_back({Handle(root), std::move(path), {}}); }
  ~WindowsExtractTarget() override { abandonFile(); }

  bool enterNewDirectory(const std::string& name, std::string& error) override {
    std::wstring path;
    if (!entryPath(name, path, error)) return false;
    if (!CreateDirectoryW(path.c_str(), nullptr)) return fail(error, "cannot create directory");
    Handle folder(holdFolder(path, FILE_FLAG_OPEN_REPARSE_POINT));
    BY_HANDLE_FILE_INFORMATION status;
    if (!folder.valid() || !GetFileInformationByHandle(folder.get(), &status)) {
      return fail(error, "cannot open directory");
    }
    if ((status.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) !=
        FILE_ATTRIBUTE_DIRECTORY) {
      error = "cannot open directory: another program put a link or a file in its place";
      return false;
    }
    folders_.push_back({std::move(folder), path + L'\\', {}});
    return true;
  }
  void leaveDirectory() override { folders_.pop_back(); }
  bool createFile(const std::string& name, std::string& error) override {
    if (!entryPath(name, path_, error)) return false;
    file_.reset(createTemp(folders_.back().path, L".vornel-inspect-", temp_));
    return file_.valid() || fail(error, "cannot create file");
  }
  bool writeFile(const std::uint8_t* data, std::size_t size, std::string& error) override {
    while (size > 0) {
      const long long put = writeNext(file_.get(), data, size);
      if (put <= 0) return discard(error, "cannot write file");
      data += put;
      size -= static_cast<std::size_t>(put);
    }
    return true;
  }
  bool finishFile(std::string& error) override {
    // Renamed through its handle, so it is this very file that takes the
    // name, and never over an entry that exists.
    const std::size_t nameBytes = path_.size() * sizeof(wchar_t);
    std::vector<std::uint8_t> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(nameBytes);
    std::memcpy(rename->FileName, path_.c_str(), nameBytes);
    if (!SetFileInformationByHandle(file_.get(), FileRenameInfo, rename, static_cast<DWORD>(buffer.size()))) {
      return discard(error, "cannot create file");
    }
    clearTemp();
    temp_.clear();
    // A write error that the host defers shows only at the close.
    if (!file_.close()) {
      fail(error, "cannot write file");
      DeleteFileW(path_.c_str());
      return false;
    }
    return true;
  }
  void abandonFile() override {
    if (temp_.empty()) return;
    // Removed through its handle, whatever its name now is.
    FILE_DISPOSITION_INFO remove = {TRUE};
    if (!SetFileInformationByHandle(file_.get(), FileDispositionInfo, &remove, sizeof remove)) {
      DeleteFileW(temp_.c_str());
    }
    file_.close();
    clearTemp();
    temp_.clear();
  }

 private:
  struct Folder {
    Handle handle;
    std::wstring path;                       // ends with "\"
    std::unordered_set<std::wstring> names;  // caseKey of every name given in it
  };

  static bool fail(std::string& error, const std::string& what) {
    error = reason(what);
    return false;
  }
  // Fails with the host's reason and removes the temporary file.
  bool discard(std::string& error, const std::string& what) {
    fail(error, what);
    abandonFile();
    return false;
  }
  // The path of a new entry of the current folder, or why it cannot be made.
  bool entryPath(const std::string& name, std::wstring& path, std::string& error) {
    error = windowsNameProblem(name);
    if (!error.empty()) return false;
    toWide(name, path);
    if (!folders_.back().names.insert(caseKey(path)).second) {
      error = "Windows cannot tell it from an earlier name of its folder";
      return false;
    }
    path.insert(0, folders_.back().path);
    return true;
  }

  std::vector<Folder> folders_;
  Handle file_;
  std::wstring path_;  // the file being written, and its temporary name
  std::wstring temp_;
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
    Handle root(holdFolder(folder, 0));
    BY_HANDLE_FILE_INFORMATION status;
    if (!root.valid() || !GetFileInformationByHandle(root.get(), &status)) {
      error = reason("cannot open directory " + path);
      return nullptr;
    }
    if ((status.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      error = "cannot open directory " + path + ": not a directory";
      return nullptr;
    }
    if (folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
    if (!isEmptyFolder(folder)) {
      error = path + " is not empty";
      return nullptr;
    }
    // The root's own path, where it is now, with the prefix that lifts the
    // short path limit.
    std::wstring final(32768, L'\0');
    const DWORD length =
        GetFinalPathNameByHandleW(root.get(), final.data(), static_cast<DWORD>(final.size()), VOLUME_NAME_DOS);
    if (length == 0 || length >= final.size()) {
      error = reason("cannot open directory " + path);
      return nullptr;
    }
    final.resize(length);
    if (final.back() != L'\\') final += L'\\';
    return std::make_unique<WindowsExtractTarget>(root.release(), std::move(final));
  }
};

}  // namespace

std::unique_ptr<ImageHost> newHostImageHost() { return std::make_unique<WindowsImageHost>(); }

}  // namespace vornel
