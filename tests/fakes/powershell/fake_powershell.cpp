// Stand-in for powershell.exe running the folder compressor's one command:
//   -Command "Compress-Archive -LiteralPath $env:A -DestinationPath $env:B -Force"
// Both paths are read from the named variables (data, never code); any other
// command exits 2 untouched. The "archive" is the line "archive of FOLDER".
// Beside itself it records powershell_cmdline.txt (the command line) and
// powershell_paths.txt (folder and archive, one a line).
// VH_FAKE_POWERSHELL: fail = half an archive, exit 1; hang = half an archive,
// then wait (at most two minutes); noarchive = exit 0 writing nothing.
#include <windows.h>

#include <cwctype>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/text.h"

namespace {

std::wstring Beside(const wchar_t* leaf) {
  wchar_t buf[MAX_PATH] = {};
  std::wstring p(buf, GetModuleFileNameW(nullptr, buf, MAX_PATH));
  return p.substr(0, p.find_last_of(L'\\') + 1) + leaf;
}

bool Write(const std::wstring& path, const std::string& bytes) {
  std::ofstream f(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
  return static_cast<bool>(f << bytes);
}

std::wstring Env(const std::wstring& name) {
  static wchar_t value[32768];
  const DWORD n = GetEnvironmentVariableW(name.c_str(), value, 32768);
  return n > 0 && n < 32768 ? std::wstring(value, n) : std::wstring();
}

// The variable named after "<key> $env:" at `at`; `at` moves past its name.
std::wstring Variable(const std::wstring& cmd, const std::wstring& key, size_t& at) {
  const std::wstring lead = L" " + key + L" $env:";
  if (cmd.compare(at, lead.size(), lead) != 0) return L"";
  size_t end = at += lead.size();
  while (end < cmd.size() && (iswalnum(cmd[end]) || cmd[end] == L'_')) ++end;
  std::wstring name = cmd.substr(at, end - at);
  at = end;
  return Env(name);
}

}  // namespace

int wmain() {
  const std::wstring cmd = GetCommandLineW();
  Write(Beside(L"powershell_cmdline.txt"), WstrToUtf8(cmd));
  const std::wstring head = L"-Command \"Compress-Archive";
  size_t at = cmd.find(head);
  if (at == std::wstring::npos) return 2;
  at += head.size();
  const std::wstring folder = Variable(cmd, L"-LiteralPath", at);
  const std::wstring archive = Variable(cmd, L"-DestinationPath", at);
  if (folder.empty() || archive.empty() || cmd.substr(at) != L" -Force\"") return 2;
  Write(Beside(L"powershell_paths.txt"), WstrToUtf8(folder) + "\n" + WstrToUtf8(archive) + "\n");

  const std::wstring mode = Env(L"VH_FAKE_POWERSHELL");
  if (mode == L"noarchive") return 0;
  const DWORD attrs = GetFileAttributesW(folder.c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES || !(attrs & FILE_ATTRIBUTE_DIRECTORY)) return 1;
  const std::string zip = "archive of " + WstrToUtf8(folder) + "\n";
  if (mode == L"fail" || mode == L"hang") {
    Write(archive, zip.substr(0, zip.size() / 2));
    if (mode == L"hang") Sleep(120000);
    return 1;
  }
  return Write(archive, zip) ? 0 : 1;
}
