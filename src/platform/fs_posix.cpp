#include "platform/fs.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/text.h"

bool ReadPathKind(const std::wstring& path, bool& isFolder) {
  const std::string p = WstrToUtf8(path);
  struct stat st {};
  if (p.empty() || ::stat(p.c_str(), &st) != 0) return false;
  isFolder = S_ISDIR(st.st_mode);
  return true;
}

std::wstring TempFolderPath() {
  const char* env = std::getenv("TMPDIR");
  std::string dir = env && env[0] == '/' ? env : "/tmp";
  if (dir.back() != '/') dir.push_back('/');
  return Utf8ToWstr(dir);
}

bool EnsureOwnFolder(const std::wstring& path) {
  std::string p = WstrToUtf8(path);
  while (p.size() > 1 && p.back() == '/') p.pop_back();  // lstat must not follow a link
  if (p.empty()) return false;
  if (::mkdir(p.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st {};
  if (::lstat(p.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
    return false;
  if ((st.st_mode & 077) != 0 && ::chmod(p.c_str(), 0700) != 0) return false;
  return true;
}

uint64_t TickCountMs() {
  timespec ts {};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

std::wstring PathLastComponent(const std::wstring& path) {
  size_t end = path.size();
  while (end > 0 && path[end - 1] == L'/') --end;
  size_t start = end;
  while (start > 0 && path[start - 1] != L'/') --start;
  return path.substr(start, end - start);
}
