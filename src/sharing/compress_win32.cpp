#include "sharing/compress.h"

#include <windows.h>

namespace {
constexpr const wchar_t* kPowerShellInSystem = L"\\WindowsPowerShell\\v1.0\\powershell.exe";

// The system folder (GetSystemDirectoryW); empty when it cannot be read.
std::wstring SystemFolder() {
  std::wstring dir(MAX_PATH, L'\0');
  for (int tries = 0; tries < 4; ++tries) {
    const UINT n = GetSystemDirectoryW(dir.data(), static_cast<UINT>(dir.size()));
    if (n == 0) return std::wstring();
    if (n < dir.size()) return dir.substr(0, n);
    dir.assign(n, L'\0');  // n counts the terminator when the buffer was short
  }
  return std::wstring();
}
}  // namespace

std::vector<std::wstring> CompressorArguments(const std::wstring&, const std::wstring&) {
  // The paths travel in CompressorEnvironment.
  const std::wstring system = SystemFolder();
  return PowerShellCompressArguments(system.empty() ? std::wstring() : system + kPowerShellInSystem);
}
