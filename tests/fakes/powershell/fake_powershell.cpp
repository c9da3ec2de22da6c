// powershell.exe running only the folder compressor's command (else exit 2); see docs/development.md.
// VH_FAKE_POWERSHELL: fail = half an archive, exit 1; hang = the same, after two minutes.
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "platform/module.h"
#include "platform/text.h"

static bool Write(const std::wstring& path, const std::string& bytes) {
  return static_cast<bool>(std::ofstream(std::filesystem::path(path), std::ios::binary | std::ios::trunc) << bytes);
}
static std::wstring Env(const std::wstring& name) {
  static wchar_t value[32768];
  const DWORD n = GetEnvironmentVariableW(name.c_str(), value, 32768);
  return n > 0 && n < 32768 ? std::wstring(value, n) : std::wstring();
}

int wmain() {
  const std::wstring cmd = GetCommandLineW();
  std::wsmatch m;
  if (!std::regex_search(cmd, m, std::wregex(L" -Command \"Compress-Archive -LiteralPath \\$env:(\\w+) "
                                             L"-DestinationPath \\$env:(\\w+) -Force\"$")))
    return 2;
  const std::wstring folder = Env(m[1]), archive = Env(m[2]);
  if (folder.empty() || archive.empty()) return 2;
  Write(ProgramFolder() + L"\\powershell_paths.txt", WstrToUtf8(folder) + "\n" + WstrToUtf8(archive) + "\n");
  if (std::error_code ec; !std::filesystem::is_directory(std::filesystem::path(folder), ec)) return 1;
  const std::string zip = "archive of " + WstrToUtf8(folder) + "\n", mode = WstrToUtf8(Env(L"VH_FAKE_POWERSHELL"));
  if (mode.empty()) return Write(archive, zip) ? 0 : 1;
  Write(archive, zip.substr(0, zip.size() / 2));
  if (mode == "hang") Sleep(120000);
  return 1;
}
