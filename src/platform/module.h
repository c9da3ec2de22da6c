// Where the running program lives, and where it looks for helper programs
// such as the tunnel client.
#pragma once

#include <string>
#include <vector>

// "\" on Windows, "/" on POSIX.
extern const wchar_t kPathSeparator[];
// ".exe" on Windows, empty on POSIX.
extern const wchar_t kExecutableSuffix[];

// Folder of the running program's executable, without a trailing separator
// (GetModuleFileNameW, of any length / /proc/self/exe); empty on failure.
std::wstring ProgramFolder();

// Folders searched for a helper program, in order. Windows: the program's own
// folder only. POSIX: the program's folder, then every PATH entry (where
// package managers install programs).
std::vector<std::wstring> HelperProgramFolders();

// True when the path's attributes can be read (GetFileAttributesW / stat);
// a folder passes as well.
bool PathAttributesReadable(const std::wstring& path);
