#include "sharing/archive.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fs.h"
#include "platform/text.h"

namespace {

// Further names tried when an archive's name is taken (another instance
// compressed a folder of the same name in the same millisecond).
constexpr int kArchiveNameTries = 1000;

std::mutex g_ownFolderMtx;
// The mkdtemp folder made because another account holds the usual name;
// empty while none was needed.
std::string g_ownFolder;

}  // namespace

std::wstring ArchiveFolder() {
  const std::wstring temp = TempFolderPath();
  if (temp.empty()) return std::wstring();
  const std::wstring dir = temp + L"vornhale-" + std::to_wstring(::geteuid());
  if (EnsureOwnFolder(dir)) return dir;

  // Someone else holds the name (or it is not a folder of ours): never write
  // there, use a folder that only this process made.
  std::lock_guard<std::mutex> lock(g_ownFolderMtx);
  if (!g_ownFolder.empty()) {
    struct stat st {};
    if (::lstat(g_ownFolder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid())
      return Utf8ToWstr(g_ownFolder);
    g_ownFolder.clear();
  }
  std::string pattern = WstrToUtf8(dir) + "-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) return std::wstring();
  g_ownFolder = pattern;
  return Utf8ToWstr(g_ownFolder);
}

void ReleaseArchiveFolder() {
  std::lock_guard<std::mutex> lock(g_ownFolderMtx);
  if (g_ownFolder.empty()) return;
  ::rmdir(g_ownFolder.c_str());  // fails, harmlessly, while an archive is still there
  g_ownFolder.clear();
}

std::wstring ReserveArchivePath(const std::wstring& folder, const std::wstring& stem, uint64_t tick) {
  for (int i = 0; i < kArchiveNameTries; ++i) {
    const std::wstring path =
        folder + L"/" + stem + L"_" + std::to_wstring(tick + static_cast<uint64_t>(i)) + L".zip";
    const int fd = ::open(WstrToUtf8(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      ::close(fd);
      return path;
    }
    if (errno != EEXIST) break;
  }
  return std::wstring();
}

std::wstring CompressFailedText(CompressEnd how, uint32_t code) {
  const std::wstring why = code ? L": " + Utf8ToWstr(std::strerror(static_cast<int>(code))) : L"";
  switch (how) {
    case CompressEnd::kNoArchive:
      return L"Could not compress folder: no private temporary folder for the archive.";
    case CompressEnd::kNotStarted: return L"Could not compress folder: it could not be opened" + why + L".";
    case CompressEnd::kTimedOut:
      return L"Could not compress folder: archiving did not finish within 10 minutes.";
    case CompressEnd::kExited: break;
    case CompressEnd::kWriteFailed: return L"Could not compress folder: writing the archive failed" + why + L".";
  }
  return L"Could not compress folder.";
}
