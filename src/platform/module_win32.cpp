#include "platform/module.h"

#include <windows.h>

const wchar_t kPathSeparator[] = L"\\";
const wchar_t kExecutableSuffix[] = L".exe";

namespace {
// The longest path Windows hands out (UNICODE_STRING's limit, in characters).
constexpr DWORD kLongestPath = 32768;

// GetModuleFileNameW, with a buffer that grows while the path is cut short;
// empty on failure.
std::wstring ModulePath() {
  for (DWORD size = MAX_PATH;; size *= 2) {
    std::wstring buf(size, L'\0');
    const DWORD n = GetModuleFileNameW(nullptr, buf.data(), size);
    if (n == 0) return std::wstring();
    if (n < size) return buf.substr(0, n);
    if (size >= kLongestPath) return std::wstring();
  }
}
}  // namespace

std::wstring ProgramFolder() {
  std::wstring path = ModulePath();
  const size_t cut = path.find_last_of(L"\\/");
  if (cut == std::wstring::npos) return std::wstring();
  path.resize(cut);
  return path;
}

std::vector<std::wstring> HelperProgramFolders() { return {ProgramFolder()}; }

bool PathAttributesReadable(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
