// Paths and folders for sharing a path: what a path is, the temporary folder,
// a private folder inside it, a millisecond tick for unique names, and the
// last component of a path.
#pragma once

#include <cstdint>
#include <string>

// Reads the path's attributes (GetFileAttributesW / stat, links followed).
// False when they cannot be read; otherwise isFolder tells a folder from a file.
bool ReadPathKind(const std::wstring& path, bool& isFolder);

// The user's temporary folder with a trailing separator (GetTempPathW /
// $TMPDIR when it is an absolute path, else /tmp); empty on failure.
std::wstring TempFolderPath();

// Creates the folder unless it exists. True when it is a folder that only
// this user may write into. POSIX: not a link, owned by the effective user,
// mode tightened to 0700 (the temporary folder is shared with other users).
// Windows: any existing folder (the user's temporary folder is private).
bool EnsureOwnFolder(const std::wstring& path);

// Milliseconds since an arbitrary fixed moment, never going back
// (GetTickCount64 / the monotonic clock).
uint64_t TickCountMs();

// The last component of a path, trailing separators ignored; empty for an
// empty path and for a root ("/", "C:\", "\\"). Separators: "\" and "/" (and
// the ":" of a drive) on Windows, "/" on POSIX.
std::wstring PathLastComponent(const std::wstring& path);
