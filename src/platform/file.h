// Files: the share-read lock that keeps writers and deleters out while an item
// is hosted, reading for the server, sizes and deletion.
//
// Windows: CreateFileW(GENERIC_READ, FILE_SHARE_READ) really keeps writers and
// deleters out. POSIX has no share modes: the descriptor opened at share time
// is held and every request reads through it, so swapping the path for
// another file, a link or a FIFO changes nothing; a file changed in place is
// caught by comparing its stamp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/owned.h"

// A HANDLE on Windows, a descriptor on POSIX; -1 is INVALID_HANDLE_VALUE on both.
using FileHandle = intptr_t;
constexpr FileHandle kInvalidFileHandle = -1;

// What a file looked like: its size and the time of its last change
// (nanoseconds since 1970 on POSIX; always 0 on Windows, where the share-read
// lock keeps the bytes unchanged but not the times).
struct FileStamp {
  uint64_t size = 0;
  int64_t modified = 0;
};

// Opens an existing regular file for reading, sharing only reading with
// others. Never blocks: POSIX opens with O_NONBLOCK and refuses anything that
// is not a regular file (a FIFO, a device, a folder); a socket cannot be opened.
FileHandle OpenFileShareRead(const std::wstring& path);
void CloseFileHandle(FileHandle h);
bool GetFileSizeByHandle(FileHandle h, uint64_t& size);
bool ReadFileStamp(FileHandle h, FileStamp& stamp);
// Reads up to len bytes at offset. Bytes read (0 at end of file), or -1 on
// error. POSIX: pread, so threads may share one descriptor.
int64_t ReadFileAt(FileHandle h, uint64_t offset, char* buf, size_t len);
// A handle for reading a hosted file, owned by the caller. POSIX: a duplicate
// of `held`, the descriptor held since the file was shared (path is not
// used: it may name another file by now). Windows: path opened afresh (the
// held handle's lock keeps it unchanged).
FileHandle OpenHeldFileForReading(FileHandle held, const std::wstring& path);
bool DeleteFilePath(const std::wstring& path);

// Move-only owner of a FileHandle.
using ScopedFile = Owned<FileHandle, kInvalidFileHandle, CloseFileHandle>;
