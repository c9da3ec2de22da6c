// Files: the share-read lock that keeps writers and deleters out while an item
// is hosted, reading for the server, sizes and deletion.
//
// Both systems read a hosted file only through the handle opened at share
// time (POSIX: a duplicate descriptor; Windows: the handle re-opened with
// ReOpenFile), never through its path again, so pointing a link or junction
// in the path elsewhere changes nothing. Windows: CreateFileW(GENERIC_READ,
// FILE_SHARE_READ) also keeps writers and deleters out. POSIX has no share
// modes: a file changed in place is caught by comparing its stamp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/owned.h"

// A HANDLE on Windows, a descriptor on POSIX; -1 is INVALID_HANDLE_VALUE on both.
using FileHandle = intptr_t;
constexpr FileHandle kInvalidFileHandle = -1;

// What a file looked like: its size, the time of its last change
// (nanoseconds since 1970 on POSIX, FILETIME units on Windows) and its
// identity (device and inode; volume serial number and file index).
struct FileStamp {
  uint64_t size = 0;
  int64_t modified = 0;
  uint64_t volume = 0;
  uint64_t index = 0;
  bool operator==(const FileStamp&) const = default;
};

// What a share-read handle may do besides reading: nothing, or delete the file
// while it is held (the program's own temporary archives; see DeleteHeldFile).
enum class HoldKind { kRead, kReadAndDelete };

// Opens an existing regular file for reading, sharing only reading with
// others. Never blocks: POSIX opens with O_NONBLOCK and refuses anything that
// is not a regular file (a FIFO, a device, a folder); a socket cannot be opened.
// Windows: kReadAndDelete adds DELETE access (POSIX needs no right for it).
FileHandle OpenFileShareRead(const std::wstring& path, HoldKind kind = HoldKind::kRead);
void CloseFileHandle(FileHandle h);
bool GetFileSizeByHandle(FileHandle h, uint64_t& size);
bool ReadFileStamp(FileHandle h, FileStamp& stamp);
// Reads up to len bytes at offset. Bytes read (0 at end of file), or -1 on
// error. POSIX: pread, so threads may share one descriptor.
int64_t ReadFileAt(FileHandle h, uint64_t offset, char* buf, size_t len);
// A handle for reading a hosted file, owned by the caller, on the very file
// `held` (the handle held since the file was shared) is open on. POSIX: a
// duplicate descriptor. Windows: ReOpenFile for reading (its own file object,
// so downloads do not queue behind each other), else a duplicate handle.
// kInvalidFileHandle on failure.
FileHandle OpenHeldFileForReading(FileHandle held);
bool DeleteFilePath(const std::wstring& path);
// Deletes the file `held` is open on, which stays readable through every
// handle already open on it. POSIX: unlinks `path` at once when it still names
// that very file (device and inode). Windows: the file goes when its last
// handle closes, the program's end included (held needs
// HoldKind::kReadAndDelete). False when nothing was done.
bool DeleteHeldFile(FileHandle held, const std::wstring& path);

// Move-only owner of a FileHandle.
using ScopedFile = Owned<FileHandle, kInvalidFileHandle, CloseFileHandle>;
