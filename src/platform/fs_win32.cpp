#include "platform/fs.h"

#include <windows.h>

bool ReadPathKind(const std::wstring& path, bool& isFolder) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (path.empty() || !GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
    return false;
  isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return true;
}

std::wstring TempFolderPath() {
  wchar_t buf[MAX_PATH] = {};
  const DWORD n = GetTempPathW(MAX_PATH, buf);
  if (n == 0 || n >= MAX_PATH) return std::wstring();
  std::wstring dir(buf, n);
  if (dir.back() != L'\\' && dir.back() != L'/') dir.push_back(L'\\');
  return dir;
}

bool EnsureOwnFolder(const std::wstring& path) {
  CreateDirectoryW(path.c_str(), nullptr);  // an existing folder is fine
  const DWORD attrs = GetFileAttributesW(path.c_str());
  return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

uint64_t TickCountMs() { return GetTickCount64(); }

std::wstring PathLastComponent(const std::wstring& path) {
  auto isSeparator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
  size_t end = path.size();
  while (end > 0 && isSeparator(path[end - 1])) --end;
  size_t start = end;
  while (start > 0 && !isSeparator(path[start - 1]) && path[start - 1] != L':') --start;
  return path.substr(start, end - start);
}
