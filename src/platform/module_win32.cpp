#include "platform/module.h"

#include <windows.h>

const wchar_t kPathSeparator[] = L"\\";
const wchar_t kExecutableSuffix[] = L".exe";

std::wstring ProgramFolder() {
  wchar_t buf[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::wstring();
  std::wstring path(buf, n);
  const size_t cut = path.find_last_of(L"\\/");
  if (cut == std::wstring::npos) return std::wstring();
  path.resize(cut);
  return path;
}

std::vector<std::wstring> HelperProgramFolders() { return {ProgramFolder()}; }

bool PathAttributesReadable(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
