#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "platform/host.h"
#include "platform/windows_file_system.h"
#include "platform/windows_interrupts.h"
#include "platform/windows_text.h"

namespace vornel {
namespace {

namespace fs = std::filesystem;

// A fresh folder under the host's temporary folder, as a UTF-8 path ending with "\".
struct TempFolder {
  TempFolder() {
    path = fs::temp_directory_path() / ("vornel-windows-" + std::to_string(std::random_device()()));
    fs::create_directory(path);
    toUtf8(path.wstring() + L"\\", utf8);
  }
  ~TempFolder() { fs::remove_all(path); }
  fs::path path;
  std::string utf8;
};

std::wstring wide(const std::string& text) {
  std::wstring result;
  EXPECT_TRUE(toWide(text, result));
  return result;
}

std::size_t entries(const fs::path& dir) {
  return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

// Names go between UTF-16 on the host and UTF-8 bytes in the program; paths
// use the backslash; a folder is listed whole and links are followed.
TEST(WindowsHostTest, ListsStatsAndReadsNamesAsUtf8) {
  TempFolder dir;
  WindowsFileSystem host;
  EXPECT_EQ(host.separator(), '\\');
  const std::string names[] = {"caf\xC3\xA9", "\xE6\x97\xA5\xE6\x9C\xAC", "plain.bin"};  // café, 日本
  for (const std::string& name : names) std::ofstream(fs::path(wide(dir.utf8 + name)), std::ios::binary) << name;
  fs::create_directory(fs::path(wide(dir.utf8 + "sub")));
  std::vector<std::string> listed;
  ASSERT_TRUE(host.listDirectory(dir.utf8, listed));
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, (std::vector<std::string>{"caf\xC3\xA9", "plain.bin", "sub", "\xE6\x97\xA5\xE6\x9C\xAC"}));
  EXPECT_FALSE(host.listDirectory(dir.utf8 + "nothing\\", listed) ||
               host.listDirectory(dir.utf8 + "plain.bin\\", listed));
  ASSERT_TRUE(host.listDirectory(dir.utf8 + "sub\\", listed));
  EXPECT_TRUE(listed.empty());

  using enum FileKind;
  const auto stat = [&](const std::string& name) { return host.stat(dir.utf8 + name); };
  EXPECT_EQ((std::vector{stat(names[0]).kind, stat("sub").kind, stat("sub\\").kind, stat("nothing").kind,
                         stat("sub\\nothing\\deeper").kind}),
            (std::vector{Regular, Directory, Directory, Missing, Missing}));
  EXPECT_EQ(stat(names[1]).size, 6u);
  EXPECT_TRUE(stat("sub").inode != stat(names[0]).inode && stat("sub").device == stat(names[0]).device);
  EXPECT_EQ(host.stat("NUL").kind, Other);
  // Links that lead nowhere or round in a loop, which Wine cannot make.
  EXPECT_EQ(statusRefused(ERROR_FILE_NOT_FOUND, FILE_ATTRIBUTE_REPARSE_POINT).reason, "it is a link that leads nowhere");
  EXPECT_EQ((std::vector{statusRefused(ERROR_PATH_NOT_FOUND, FILE_ATTRIBUTE_REPARSE_POINT).kind,
                         statusRefused(ERROR_CANT_RESOLVE_FILENAME, INVALID_FILE_ATTRIBUTES).kind,
                         statusRefused(ERROR_PATH_NOT_FOUND, INVALID_FILE_ATTRIBUTES).kind,
                         statusRefused(ERROR_ACCESS_DENIED, FILE_ATTRIBUTE_REPARSE_POINT).kind}),
            (std::vector{Other, Other, Missing, Unreadable}));

  auto in = host.openInput(dir.utf8 + names[0]);
  std::uint8_t buffer[16] = {};
  ASSERT_TRUE(in && in->seek(3));
  EXPECT_EQ(in->read(buffer, sizeof buffer), 2);
  EXPECT_EQ(std::memcmp(buffer, "\xC3\xA9", 2), 0);
  EXPECT_EQ(in->read(buffer, sizeof buffer), 0);
  EXPECT_FALSE(host.openInput(dir.utf8 + "nothing"));

  // A name that is not valid UTF-16 cannot be read, where the host lets one be made (Wine does not).
  std::string converted;
  EXPECT_FALSE(toUtf8(std::wstring(L"bad") + L'\xD800', converted));
  EXPECT_EQ(converted, "bad\xEF\xBF\xBD");
  const std::wstring bad = wide(dir.utf8 + "sub\\bad") + L'\xD800';
  const HANDLE made = CreateFileW(bad.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  if (made != INVALID_HANDLE_VALUE) {
    CloseHandle(made);
    ASSERT_TRUE(host.listDirectory(dir.utf8 + "sub\\", listed));
    ASSERT_EQ(listed, (std::vector<std::string>{"bad\xEF\xBF\xBD"}));
    EXPECT_EQ(host.stat(dir.utf8 + "sub\\" + listed[0]).kind, Unreadable);
  }
}

// The image replaces the output only when committed, keeps the replaced
// file's attributes, waits a while for a program that holds the output open,
// and leaves no temporary file; NUL is written in place, and a read-only
// output or a folder cannot take an image.
TEST(WindowsHostTest, CommitsOverTheOutputAndRetriesWhileItIsHeld) {
  TempFolder dir;
  WindowsFileSystem host;
  const std::string out = dir.utf8 + "out.iso";
  const std::uint8_t bytes[2] = {1, 2};
  const std::uint8_t* blocks[] = {bytes, bytes, bytes};
  std::ofstream(dir.path / "out.iso") << "previous image";
  SetFileAttributesW(wide(out).c_str(), FILE_ATTRIBUTE_HIDDEN);
  const std::size_t settled = entries(dir.path);

  auto image = host.createOutput(out);
  ASSERT_TRUE(image && image->writeBlocks(4, blocks, 2));
  EXPECT_EQ(entries(dir.path), settled + 1);
  image.reset();  // a failed build
  EXPECT_EQ(fs::file_size(dir.path / "out.iso"), 14u);
  EXPECT_EQ(entries(dir.path), settled);

  // Held open for a moment: the rename waits for it.
  const auto hold = [&] {
    return CreateFileW(wide(out).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  };
  image = host.createOutput(out);
  ASSERT_TRUE(image && image->writeBlocks(4, blocks, 2));
  HANDLE held = hold();
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    CloseHandle(held);
  });
  EXPECT_TRUE(image->commit());
  release.join();
  EXPECT_EQ(fs::file_size(dir.path / "out.iso"), 10u);
  EXPECT_NE(GetFileAttributesW(wide(out).c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
  EXPECT_EQ(entries(dir.path), settled);

  // Held open for good: the commit fails after two seconds, the output as it was.
  image = host.createOutput(out);
  ASSERT_TRUE(image && image->seek(0) && image->write(bytes, 1) == 1);
  held = hold();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(image->commit());
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1900));
  EXPECT_TRUE(image->lastError().starts_with("another program held the output open for two seconds: "));
  CloseHandle(held);
  image.reset();
  EXPECT_EQ(fs::file_size(dir.path / "out.iso"), 10u);
  EXPECT_EQ(entries(dir.path), settled);

  SetFileAttributesW(wide(out).c_str(), FILE_ATTRIBUTE_READONLY);
  const std::pair<std::string, std::string> refused[] = {
      {out, "the file is read-only"},
      {dir.utf8, "it is a folder"},
      {"", "the output path is empty"},
      {dir.utf8 + "no\\out.iso", hostErrorText(ERROR_PATH_NOT_FOUND)}};
  for (const auto& [path, reason] : refused) {
    EXPECT_FALSE(host.createOutput(path)) << path;
    EXPECT_EQ(host.lastError(), reason) << path;
  }
  SetFileAttributesW(wide(out).c_str(), FILE_ATTRIBUTE_NORMAL);
  // NUL takes the image in place at any position; a pipe on standard
  // output takes it in order.
  for (const std::string device : {"NUL", "nul"}) {
    image = host.createOutput(device);
    EXPECT_TRUE(image && !image->inOrder() && image->writeBlocks(675837952, blocks, 2) && image->commit()) << device;
  }
  HANDLE pipeIn = nullptr;
  HANDLE pipeOut = nullptr;
  ASSERT_TRUE(CreatePipe(&pipeIn, &pipeOut, nullptr, 0));
  const HANDLE standardOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  SetStdHandle(STD_OUTPUT_HANDLE, pipeOut);
  image = host.createOutput("-");
  SetStdHandle(STD_OUTPUT_HANDLE, standardOutput);
  CloseHandle(pipeOut);
  ASSERT_TRUE(image && image->inOrder() && image->writeBlocks(0, blocks, 2));
  EXPECT_FALSE(image->seek(0) || image->writeBlocks(100, blocks, 2));
  EXPECT_TRUE(image->commit());
  image.reset();
  char piped[8] = {};
  DWORD got = 0;
  EXPECT_TRUE(ReadFile(pipeIn, piped, sizeof piped, &got, nullptr) && got == 6 && piped[5] == 2);
  CloseHandle(pipeIn);
  EXPECT_EQ(entries(dir.path), settled);

  // A write larger than one call of the host's goes out whole.
  const std::vector<std::uint8_t> large(kMaxTransfer * 5 / 2, 'L');
  image = host.createOutput(out);
  EXPECT_TRUE(image && image->write(large.data(), large.size()) == std::ssize(large) && image->commit());
  EXPECT_EQ(fs::file_size(dir.path / "out.iso"), large.size());
}

// Ctrl+Break (or Ctrl+C, or a closed console) while an image is written or
// a file extracted: that file goes, and the old output stays. The child is
// this test program run again, which starts one or the other and sends
// itself the event; where it has no console to send it on (Wine), it does
// what the host does: runs the handler, then ends.
TEST(WindowsHostTest, AnInterruptRemovesTheFileBeingWritten) {
  const std::uint8_t bytes[2] = {1, 2};
  if (const char* what = std::getenv("VORNEL_INTERRUPTED")) {
    const std::string folder = std::getenv("VORNEL_INTERRUPTED_FOLDER");
    std::string error;
    auto image = std::string(what) == "image" ? WindowsFileSystem().createOutput(folder + "out.iso") : nullptr;
    auto target = image ? nullptr : newHostImageHost()->openExtractRoot(folder + "out", error);
    const bool writing = image ? image->write(bytes, 2) == 2
                               : target && target->createFile("file", error) && target->writeFile(bytes, 2, error);
    if (writing && GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, GetCurrentProcessId())) Sleep(10000);
    if (writing) removeTempOnEvent(CTRL_BREAK_EVENT);
    ExitProcess(writing ? STATUS_CONTROL_C_EXIT : 1);
  }
  for (const std::wstring what : {L"image", L"extraction"}) {
    TempFolder dir;
    std::ofstream(dir.path / "out.iso") << "previous image";
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(self) + L"\" --gtest_filter=WindowsHostTest.AnInterrupt*";
    SetEnvironmentVariableW(L"VORNEL_INTERRUPTED", what.c_str());
    SetEnvironmentVariableW(L"VORNEL_INTERRUPTED_FOLDER", wide(dir.utf8).c_str());
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NEW_PROCESS_GROUP, nullptr,
                               nullptr, &startup, &child));
    SetEnvironmentVariableW(L"VORNEL_INTERRUPTED", nullptr);
    WaitForSingleObject(child.hProcess, INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(child.hProcess, &status);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
    EXPECT_EQ(status, static_cast<DWORD>(STATUS_CONTROL_C_EXIT));
    EXPECT_EQ(fs::file_size(dir.path / "out.iso"), 14u);
    EXPECT_EQ(entries(dir.path), what == L"image" ? 1u : 2u);
    if (what != L"image") {
      EXPECT_EQ(entries(dir.path / "out"), 0u);
    }
  }
}

// The names a Windows folder cannot hold as they are.
TEST(WindowsHostTest, RefusesNamesWindowsCannotHold) {
  for (const char* name : {"CON", "con.txt", "Nul", "aux.tar.gz", "COM1", "lpt9.x", "prn ", "dot.", "a<b", "a:b",
                           "a\"b", "a/b", "a\\b", "a|b", "a?b", "a*b", "tab\tname", "\xC3(", ""}) {
    EXPECT_NE(windowsNameProblem(name), "") << name;
  }
  for (const char* name : {"CONSOLE", "com10", "COM0", "lpt", "nul_", "file.txt", ".hidden", "caf\xC3\xA9", "a b"}) {
    EXPECT_EQ(windowsNameProblem(name), "") << name;
  }

  TempFolder dir;
  const auto imageHost = newHostImageHost();
  std::string error;
  const auto target = imageHost->openExtractRoot(dir.utf8 + "out", error);
  ASSERT_NE(target, nullptr) << error;
  EXPECT_FALSE(target->createFile("NUL", error) || target->enterNewDirectory("dir.", error));
  EXPECT_EQ(error, "Windows drops a dot or a space at the end of a name");
  // Each file stands under a temporary name in its folder until it is complete.
  const auto xyz = reinterpret_cast<const std::uint8_t*>("xyz");
  const fs::path cafe = dir.path / "out" / L"caf\u00e9";
  ASSERT_TRUE(target->enterNewDirectory("caf\xC3\xA9", error) && target->createFile("deep", error) &&
              target->writeFile(xyz, 3, error))
      << error;
  ASSERT_EQ(entries(cafe), 1u);
  EXPECT_TRUE(fs::directory_iterator(cafe)->path().filename().wstring().starts_with(L".vornel-inspect-"));
  EXPECT_TRUE(target->finishFile(error)) << error;
  target->leaveDirectory();
  EXPECT_EQ(fs::file_size(cafe / "deep"), 3u);
  EXPECT_EQ(entries(cafe), 1u);
  // An abandoned file leaves nothing; an earlier name in another case is
  // refused, non-ASCII letters included.
  EXPECT_TRUE(target->createFile("gone", error) && target->writeFile(xyz, 3, error));
  target->abandonFile();
  EXPECT_TRUE(target->createFile("top", error) && target->writeFile(xyz, 3, error));
  target->abandonFile();
  EXPECT_EQ(entries(dir.path / "out"), 1u);
  for (const char* name : {"TOP", "CAF\xC3\x89"}) {
    EXPECT_FALSE(target->createFile(name, error)) << name;
    EXPECT_EQ(error, "Windows cannot tell it from an earlier name of its folder");
  }
  EXPECT_EQ(imageHost->openExtractRoot(dir.utf8 + "out", error), nullptr);

  const auto image = imageHost->openImage(dir.utf8 + "out\\caf\xC3\xA9\\deep", error);
  std::uint8_t read[3];
  ASSERT_NE(image, nullptr) << error;
  EXPECT_TRUE(image->size() == 3 && image->readAt(1, read, 2) && read[1] == 'z');
  EXPECT_FALSE(image->readAt(1, read, 3) || image->readAt(UINT64_MAX, read, 2));
  EXPECT_TRUE(imageHost->openImage(dir.utf8 + "none", error) == nullptr &&
              imageHost->openImage(dir.utf8 + "out", error) == nullptr);
}

}  // namespace
}  // namespace vornel
