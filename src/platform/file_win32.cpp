#include "platform/file.h"

#include <windows.h>

static HANDLE AsHandle(FileHandle h) { return reinterpret_cast<HANDLE>(h); }

FileHandle OpenFileShareRead(const std::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  return reinterpret_cast<FileHandle>(h);  // INVALID_HANDLE_VALUE is -1
}

void CloseFileHandle(FileHandle h) {
  if (h != kInvalidFileHandle && h != 0) CloseHandle(AsHandle(h));
}

bool GetFileSizeByHandle(FileHandle h, uint64_t& size) {
  LARGE_INTEGER li{};
  if (!GetFileSizeEx(AsHandle(h), &li)) return false;
  size = static_cast<uint64_t>(li.QuadPart);
  return true;
}

// The time stays 0: the item's lock keeps the file's bytes as they were shared,
// while anyone may still set its times (that needs no write access), which
// must not fail a download.
bool ReadFileStamp(FileHandle h, FileStamp& stamp) {
  stamp.modified = 0;
  return GetFileSizeByHandle(h, stamp.size);
}

int64_t ReadFileAt(FileHandle h, uint64_t offset, char* buf, size_t len) {
  // On a handle opened for synchronous use the read waits and starts at the
  // offset given here.
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  if (!ReadFile(AsHandle(h), buf, static_cast<DWORD>(len), &got, &at))
    return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
  return got;
}

FileHandle OpenHeldFileForReading(FileHandle, const std::wstring& path) {
  return OpenFileShareRead(path);
}

bool DeleteFilePath(const std::wstring& path) { return DeleteFileW(path.c_str()) != FALSE; }
