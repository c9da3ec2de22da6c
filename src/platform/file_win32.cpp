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

bool SeekFileHandle(FileHandle h, uint64_t offset) {
  LARGE_INTEGER li{};
  li.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(AsHandle(h), li, nullptr, FILE_BEGIN) != FALSE;
}

int64_t ReadFileHandle(FileHandle h, char* buf, size_t len) {
  DWORD got = 0;
  if (!ReadFile(AsHandle(h), buf, static_cast<DWORD>(len), &got, nullptr)) return -1;
  return got;
}

bool DeleteFilePath(const std::wstring& path) { return DeleteFileW(path.c_str()) != FALSE; }
