#include "platform/file.h"

#include <windows.h>

static HANDLE AsHandle(FileHandle h) { return reinterpret_cast<HANDLE>(h); }

FileHandle OpenFileShareRead(const std::wstring& path, HoldKind kind) {
  const DWORD access = kind == HoldKind::kReadAndDelete ? GENERIC_READ | DELETE : GENERIC_READ;
  HANDLE h = CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
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

bool ReadFileStamp(FileHandle h, FileStamp& stamp) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(AsHandle(h), &info)) return false;
  stamp.size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  stamp.modified = static_cast<int64_t>((static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                                        info.ftLastWriteTime.dwLowDateTime);
  stamp.volume = info.dwVolumeSerialNumber;
  stamp.index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
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

FileHandle OpenHeldFileForReading(FileHandle held) {
  if (held == kInvalidFileHandle || held == 0) return kInvalidFileHandle;
  // Sharing deletion as well lets the re-open in beside a held archive, whose
  // handle has delete access; the held handle still keeps deleters out.
  HANDLE h = ReOpenFile(AsHandle(held), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, 0);
  if (h != INVALID_HANDLE_VALUE) return reinterpret_cast<FileHandle>(h);
  HANDLE self = GetCurrentProcess();
  if (!DuplicateHandle(self, AsHandle(held), self, &h, 0, FALSE, DUPLICATE_SAME_ACCESS))
    return kInvalidFileHandle;
  return reinterpret_cast<FileHandle>(h);
}

bool DeleteFilePath(const std::wstring& path) { return DeleteFileW(path.c_str()) != FALSE; }

bool DeleteHeldFile(FileHandle held, const std::wstring&) {
  if (held == kInvalidFileHandle || held == 0) return false;
  FILE_DISPOSITION_INFO info{};
  info.DeleteFile = TRUE;
  return SetFileInformationByHandle(AsHandle(held), FileDispositionInfo, &info, sizeof info) != FALSE;
}
