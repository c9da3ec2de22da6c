#include "tunnel/client.h"

#include <vector>

#include "platform/module.h"

namespace {
constexpr const wchar_t* kClientBaseName = L"cloudflared";
constexpr const wchar_t* kLocalOrigin = L"http://localhost:";
}  // namespace

std::wstring GetCloudflaredPath() {
  const std::wstring file = std::wstring(kClientBaseName) + kExecutableSuffix;
  for (const std::wstring& folder : HelperProgramFolders()) {
    if (folder.empty()) continue;  // never the root of the current drive or a bare name
    const std::wstring candidate = folder + kPathSeparator + file;
    if (CloudflaredPresent(candidate)) return candidate;
  }
  const std::wstring own = ProgramFolder();
  return own.empty() ? std::wstring() : own + kPathSeparator + file;
}

bool CloudflaredPresent(const std::wstring& path) { return !path.empty() && PathAttributesReadable(path); }

std::vector<std::wstring> CloudflaredArguments(const std::wstring& path, int port) {
  return {path, L"tunnel", L"--no-autoupdate", L"--protocol", L"http2", L"--url",
          kLocalOrigin + std::to_wstring(port)};
}
