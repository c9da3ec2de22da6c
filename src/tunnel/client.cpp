#include "tunnel/client.h"

#include <vector>

#include "platform/module.h"

namespace {
constexpr const wchar_t* kClientBaseName = L"cloudflared";
constexpr const wchar_t* kClientArgs =
    L" tunnel --no-autoupdate --protocol http2 --url http://localhost:";
}  // namespace

std::wstring GetCloudflaredPath() {
  const std::wstring file = std::wstring(kClientBaseName) + kExecutableSuffix;
  for (const std::wstring& folder : HelperProgramFolders()) {
    const std::wstring candidate = folder + kPathSeparator + file;
    if (CloudflaredPresent(candidate)) return candidate;
  }
  return ProgramFolder() + kPathSeparator + file;
}

bool CloudflaredPresent(const std::wstring& path) { return PathAttributesReadable(path); }

std::wstring CloudflaredCommandLine(const std::wstring& path, int port) {
  return L"\"" + path + L"\"" + kClientArgs + std::to_wstring(port);
}
