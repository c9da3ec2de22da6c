#include "platform/module.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/text.h"

const wchar_t kPathSeparator[] = L"/";
const wchar_t kExecutableSuffix[] = L"";

std::wstring ProgramFolder() {
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0 || n >= static_cast<ssize_t>(sizeof buf - 1)) return std::wstring();  // none, or cut short
  std::string path(buf, static_cast<size_t>(n));
  const size_t cut = path.rfind('/');
  if (cut == std::string::npos) return std::wstring();
  path.resize(cut == 0 ? 1 : cut);
  return Utf8ToWstr(path);
}

std::vector<std::wstring> HelperProgramFolders() {
  std::vector<std::wstring> folders;
  const std::wstring own = ProgramFolder();
  if (!own.empty()) folders.push_back(own);
  const char* env = std::getenv("PATH");
  if (!env) return folders;
  std::string list = env;
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    // An empty entry means the current folder; programs are not taken from there.
    if (end > start) folders.push_back(Utf8ToWstr(list.substr(start, end - start)));
    start = end + 1;
  }
  return folders;
}

bool PathAttributesReadable(const std::wstring& path) {
  struct stat st {};
  return !path.empty() && ::stat(WstrToUtf8(path).c_str(), &st) == 0;
}
