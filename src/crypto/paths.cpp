#include "crypto/paths.h"

#include "crypto/paths_os.h"
#include "platform/module.h"

namespace vh::paths {
namespace {
std::wstring g_appDataDirForTest;
}  // namespace

void SetAppDataDirForTest(const std::wstring& dir) { g_appDataDirForTest = dir; }

std::wstring AppDataDir() {
  if (!g_appDataDirForTest.empty()) return g_appDataDirForTest;
  const std::wstring base = SystemBaseDir();
  if (base.empty()) return {};
  return Join(base, kAppFolderName);
}

std::wstring Join(const std::wstring& dir, const wchar_t* name) { return dir + kPathSeparator + name; }

std::wstring EnsureAppDataDir() {
  std::wstring dir = AppDataDir();
  if (dir.empty() || !MakeDirectory(dir)) return {};
  return dir;
}

}  // namespace vh::paths
