// Test double of powershell.exe for the folder compressor. It understands one
// command: -Command "Compress-Archive -LiteralPath <folder> -DestinationPath
// <archive> -Force", each path either $env:NAME (the variable's value, as
// PowerShell passes it: data, never code) or a single-quoted string read by
// PowerShell's rules (any of ' U+2018 U+2019 U+201A U+201B ends it, two of
// them in a row stand for the second). It writes a zip archive of the folder
// the way Compress-Archive lays it out: the folder itself is the archive's top
// entry. Entries are stored, not deflated. Anything after the archive path
// but " -Force" would run as more PowerShell: then it exits 2 untouched.
//
// Records, beside this executable (UTF-8, overwritten on every start):
// "powershell_cmdline.txt", the full command line (GetCommandLineW), and
// "powershell_paths.txt", the folder and archive path it received, one a line.
// Behaviour: the environment variable VH_FAKE_POWERSHELL:
//   (none) or "ok"   write the archive, exit 0
//   "fail"           write half an archive, exit 1
//   "hang"           write half an archive, then wait until killed (ends by
//                    itself after kMaxHangMs so a broken test leaves nothing)
//   "noarchive"      write nothing, exit 0
#include <windows.h>

#include <cstdint>
#include <cwctype>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "platform/text.h"

namespace {

constexpr DWORD kMaxHangMs = 120000;

std::wstring OwnFolder() {
  wchar_t buf[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH);
  std::wstring p(buf, n);
  const size_t slash = p.find_last_of(L"\\/");
  return slash == std::wstring::npos ? L"." : p.substr(0, slash);
}

bool WriteWhole(const std::wstring& path, const std::string& bytes) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(h);
  return ok && written == bytes.size();
}

bool ReadWhole(const std::wstring& path, std::string& out) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  out.clear();
  char buf[65536];
  DWORD got = 0;
  bool ok = true;
  while ((ok = ReadFile(h, buf, sizeof buf, &got, nullptr) != FALSE) && got > 0) out.append(buf, got);
  CloseHandle(h);
  return ok;
}

std::string Mode() {
  wchar_t env[64] = {};
  const DWORD n = GetEnvironmentVariableW(L"VH_FAKE_POWERSHELL", env, 64);
  return n > 0 && n < 64 ? WstrToUtf8(env) : std::string();
}

bool IsQuote(wchar_t c) {
  return c == L'\'' || c == 0x2018 || c == 0x2019 || c == 0x201A || c == 0x201B;
}

// The value of the argument after `key`: $env:NAME or a single-quoted string.
// `end` is set just past it. False when the key is missing, a variable is
// unset or a quoted string does not end.
bool PowerShellArgument(const std::wstring& cmd, const std::wstring& key, std::wstring& out,
                        size_t& end) {
  const size_t at = cmd.find(L" " + key + L" ");
  if (at == std::wstring::npos) return false;
  size_t i = at + key.size() + 2;
  out.clear();
  const std::wstring env = L"$env:";
  if (cmd.compare(i, env.size(), env) == 0) {
    size_t j = i + env.size();
    while (j < cmd.size() && (iswalnum(cmd[j]) || cmd[j] == L'_')) ++j;
    const std::wstring name = cmd.substr(i + env.size(), j - i - env.size());
    wchar_t value[32768];
    const DWORD n = GetEnvironmentVariableW(name.c_str(), value, 32768);
    if (n == 0 || n >= 32768) return false;
    out.assign(value, n);
    end = j;
    return true;
  }
  if (i >= cmd.size() || !IsQuote(cmd[i])) return false;
  for (++i; i < cmd.size(); ++i) {
    if (!IsQuote(cmd[i])) {
      out.push_back(cmd[i]);
    } else if (i + 1 < cmd.size() && IsQuote(cmd[i + 1])) {
      out.push_back(cmd[i + 1]);
      ++i;
    } else {
      end = i + 1;
      return true;
    }
  }
  return false;
}

uint32_t Crc32(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (const unsigned char b : bytes) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
  }
  return ~crc;
}

// Little-endian fields of {width in bytes, value}.
void Put(std::string& s, std::initializer_list<std::pair<int, uint32_t>> fields) {
  for (const auto& [width, v] : fields)
    for (int i = 0; i < width; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

struct Entry {
  std::string name;  // UTF-8, "/" separators, folders end with "/"
  std::string data;
};

// Every file and folder below `dir`, named under `prefix`.
bool Collect(const std::wstring& dir, const std::string& prefix, std::vector<Entry>& out) {
  WIN32_FIND_DATAW fd{};
  HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return true;  // an empty folder
  bool ok = true;
  do {
    const std::wstring leaf = fd.cFileName;
    if (leaf == L"." || leaf == L"..") continue;
    const std::wstring full = dir + L"\\" + leaf;
    const std::string name = prefix + WstrToUtf8(leaf);
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      out.push_back(Entry{name + "/", std::string()});
      ok = Collect(full, name + "/", out) && ok;
    } else {
      Entry e{name, std::string()};
      ok = ReadWhole(full, e.data) && ok;
      out.push_back(std::move(e));
    }
  } while (FindNextFileW(h, &fd));
  FindClose(h);
  return ok;
}

std::string Zip(const std::vector<Entry>& entries) {
  constexpr uint32_t kUtf8Names = 0x0800;
  constexpr uint32_t kDosDate1980 = 0x0021;  // 1980-01-01, midnight
  std::string out, central;
  for (const auto& e : entries) {
    const uint32_t offset = static_cast<uint32_t>(out.size()), crc = Crc32(e.data);
    const uint32_t size = static_cast<uint32_t>(e.data.size()), nameLen = static_cast<uint32_t>(e.name.size());
    const bool folder = !e.name.empty() && e.name.back() == '/';
    // Stored entries: version 20, UTF-8 names, method 0.
    Put(out, {{4, 0x04034b50}, {2, 20}, {2, kUtf8Names}, {2, 0}, {2, 0}, {2, kDosDate1980}, {4, crc},
              {4, size}, {4, size}, {2, nameLen}, {2, 0}});
    out += e.name + e.data;
    Put(central, {{4, 0x02014b50}, {2, 20}, {2, 20}, {2, kUtf8Names}, {2, 0}, {2, 0}, {2, kDosDate1980},
                  {4, crc}, {4, size}, {4, size}, {2, nameLen}, {2, 0}, {2, 0}, {2, 0}, {2, 0},
                  {4, folder ? FILE_ATTRIBUTE_DIRECTORY : 0u}, {4, offset}});
    central += e.name;
  }
  const uint32_t centralOffset = static_cast<uint32_t>(out.size());
  const uint32_t count = static_cast<uint32_t>(entries.size());
  out += central;
  Put(out, {{4, 0x06054b50}, {2, 0}, {2, 0}, {2, count}, {2, count},
            {4, static_cast<uint32_t>(central.size())}, {4, centralOffset}, {2, 0}});
  return out;
}

}  // namespace

int wmain() {
  const std::wstring cmd = GetCommandLineW();
  WriteWhole(OwnFolder() + L"\\powershell_cmdline.txt", WstrToUtf8(cmd));

  std::wstring folder;
  std::wstring archive;
  size_t end = 0;
  if (cmd.find(L"Compress-Archive") == std::wstring::npos ||
      !PowerShellArgument(cmd, L"-LiteralPath", folder, end) ||
      !PowerShellArgument(cmd, L"-DestinationPath", archive, end) ||
      cmd.compare(end, std::wstring::npos, L" -Force\"") != 0)
    return 2;
  WriteWhole(OwnFolder() + L"\\powershell_paths.txt",
             WstrToUtf8(folder) + "\n" + WstrToUtf8(archive) + "\n");

  const std::string mode = Mode();
  if (mode == "noarchive") return 0;

  std::wstring root = folder;
  while (!root.empty() && (root.back() == L'\\' || root.back() == L'/')) root.pop_back();
  const size_t slash = root.find_last_of(L"\\/:");
  const std::string top = WstrToUtf8(slash == std::wstring::npos ? root : root.substr(slash + 1)) + "/";
  std::vector<Entry> entries{Entry{top, std::string()}};
  const DWORD attrs = GetFileAttributesW(folder.c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES || !(attrs & FILE_ATTRIBUTE_DIRECTORY)) return 1;
  if (!Collect(root, top, entries)) return 1;
  const std::string zip = Zip(entries);

  if (mode == "fail" || mode == "hang") {
    WriteWhole(archive, zip.substr(0, zip.size() / 2));
    if (mode == "hang") Sleep(kMaxHangMs);
    return 1;
  }
  return WriteWhole(archive, zip) ? 0 : 1;
}
