#include "sharing/archive.h"

#include <windows.h>

#include "platform/fs.h"
#include "platform/module.h"
#include "platform/owned.h"

namespace {
// A find handle as an integer: INVALID_HANDLE_VALUE (-1) cannot be a pointer template argument.
void CloseFind(intptr_t h) { FindClose(reinterpret_cast<HANDLE>(h)); }
using ScopedFind = Owned<intptr_t, -1, CloseFind>;
}  // namespace

std::wstring ArchiveFolder() {
  const std::wstring temp = TempFolderPath();
  if (temp.empty()) return std::wstring();
  const std::wstring dir = temp + L"vornhale";
  return EnsureOwnFolder(dir) ? dir : std::wstring();
}

int SweepLeftArchives() {
  const std::wstring dir = ArchiveFolder();
  if (dir.empty()) return 0;
  WIN32_FIND_DATAW found{};
  ScopedFind find(reinterpret_cast<intptr_t>(FindFirstFileW((dir + L"\\*.zip").c_str(), &found)));
  if (!find.valid()) return 0;
  int deleted = 0;
  do {
    if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) continue;
    const size_t n = wcslen(found.cFileName);  // the pattern also matches by the short 8.3 name
    if (n < 5 || CompareStringOrdinal(found.cFileName + n - 4, 4, L".zip", 4, TRUE) != CSTR_EQUAL) continue;
    // An archive in use (held by a running instance) cannot be deleted.
    if (DeleteFileW((dir + kPathSeparator + found.cFileName).c_str())) ++deleted;
  } while (FindNextFileW(reinterpret_cast<HANDLE>(find.get()), &found));
  return deleted;
}

bool HoldArchive(FileHandle h) { return h != kInvalidFileHandle; }

void ReleaseArchiveFolder() {}

std::wstring ReserveArchivePath(const std::wstring& folder, const std::wstring& stem, uint64_t tick,
                                ScopedFile& hold) {
  hold.reset();
  return folder + kPathSeparator + stem + L"_" + std::to_wstring(tick) + L".zip";
}

std::wstring CompressFailedText(CompressEnd, uint32_t) {
  return L"Could not compress folder.\n\nPowerShell's Compress-Archive is required. Make sure "
         L"PowerShell is installed and the folder isn't in use.";
}
