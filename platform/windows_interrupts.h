#pragma once

// The one temporary file that Ctrl+C, Ctrl+Break or closing the console must
// not leave behind: the image being written, or the file being extracted.
// The host calls the console handler on a thread of its own, so a lock keeps
// it from meeting a half-registered path.

#include <windows.h>

#include <string>

namespace vornel {

// Creates a new file named `prefix` and a number unused in `folder` (which
// ends with "\\"), open for writing and renaming and shared for deletion,
// and makes it the file that a console event removes before the program
// ends; no event can come between the two. Invalid with GetLastError() set
// when it cannot be created; `path` is then empty.
HANDLE createTemp(const std::wstring& folder, const std::wstring& prefix, std::wstring& path);
// The file is complete or gone: a console event leaves it alone.
void clearTemp();
// What the host calls on a console event: removes the registered file and
// lets the host's own handling end the program.
BOOL WINAPI removeTempOnEvent(DWORD event);

}  // namespace vornel
