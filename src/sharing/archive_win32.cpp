#include "sharing/archive.h"

#include "platform/fs.h"
#include "platform/module.h"

std::wstring ArchiveFolder() {
  const std::wstring temp = TempFolderPath();
  if (temp.empty()) return std::wstring();
  const std::wstring dir = temp + L"vornhale";
  return EnsureOwnFolder(dir) ? dir : std::wstring();
}

void ReleaseArchiveFolder() {}

std::wstring ReserveArchivePath(const std::wstring& folder, const std::wstring& stem, uint64_t tick) {
  return folder + kPathSeparator + stem + L"_" + std::to_wstring(tick) + L".zip";
}

std::wstring CompressFailedText(CompressEnd, uint32_t) {
  return L"Could not compress folder.\n\nPowerShell's Compress-Archive is required. Make sure "
         L"PowerShell is installed and the folder isn't in use.";
}
