#include "sharing/archive.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fs.h"
#include "platform/owned_posix.h"
#include "platform/text.h"

namespace {

// Further names tried when an archive's name is taken (another instance
// compressed a folder of the same name in the same millisecond).
constexpr int kArchiveNameTries = 1000;

constexpr char kArchiveSuffix[] = ".zip";

std::mutex g_ownFolderMtx;
// The mkdtemp folder made because another account holds the usual name;
// empty while none was needed.
std::string g_ownFolder;

// The usual archive folder, $TMPDIR/vornhale-<uid>; empty when no temporary
// folder is known.
std::wstring UsualArchiveFolder() {
  const std::wstring temp = TempFolderPath();
  return temp.empty() ? std::wstring() : temp + L"vornhale-" + std::to_wstring(::geteuid());
}

// True when `path` still names the file `fd` is open on.
bool StillNamed(int fd, const std::string& path) {
  struct stat named {}, opened {};
  return fstat(fd, &opened) == 0 && ::lstat(path.c_str(), &named) == 0 &&
         named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
}

// Deletes the archive at `path` unless a live mark is on it. The exclusive
// lock comes before the name check, so a file marked live meanwhile is never
// deleted. Left open: another sweep deleting this file and a reservation
// taking the same name again between the check and the unlink (names carry
// the millisecond of the share).
bool SweepOne(const std::string& path) {
  ScopedFile fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!fd.valid()) return false;
  const int h = static_cast<int>(fd.get());
  struct stat st {};
  return fstat(h, &st) == 0 && S_ISREG(st.st_mode) && ::flock(h, LOCK_EX | LOCK_NB) == 0 &&
         DeleteHeldFile(fd.get(), Utf8ToWstr(path));  // only while the name still leads to it
}

bool EndsWith(const std::string& name, const char* suffix) {
  const std::string s(suffix);
  return name.size() > s.size() && name.compare(name.size() - s.size(), s.size(), s) == 0;
}

}  // namespace

std::wstring ArchiveFolder() {
  const std::wstring dir = UsualArchiveFolder();
  if (dir.empty()) return std::wstring();
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

std::wstring ReserveArchivePath(const std::wstring& folder, const std::wstring& stem, uint64_t tick,
                                ScopedFile& hold) {
  hold.reset();
  for (int i = 0; i < kArchiveNameTries; ++i) {
    const std::wstring path =
        folder + L"/" + stem + L"_" + std::to_wstring(tick + static_cast<uint64_t>(i)) + L".zip";
    const std::string p = WstrToUtf8(path);
    ScopedFile fd(::open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!fd.valid()) {
      if (errno != EEXIST) break;
      continue;
    }
    // A sweep may have taken the new file before the mark was on it: then the
    // name no longer leads here, and the next number is tried.
    if (HoldArchive(fd.get()) && StillNamed(static_cast<int>(fd.get()), p)) {
      hold = std::move(fd);
      return path;
    }
  }
  return std::wstring();
}

bool HoldArchive(FileHandle h) {
  if (h == kInvalidFileHandle) return false;
  int r;
  do {
    r = ::flock(static_cast<int>(h), LOCK_SH);
  } while (r != 0 && errno == EINTR);
  return r == 0;
}

int SweepLeftArchives() {
  const std::wstring dir = UsualArchiveFolder();
  if (dir.empty() || !EnsureOwnFolder(dir)) return 0;  // never in a folder that is not ours
  const std::string d = WstrToUtf8(dir);
  ScopedDir listing(::opendir(d.c_str()));
  if (!listing.valid()) return 0;
  int deleted = 0;
  while (const dirent* e = ::readdir(listing.get())) {
    const std::string name = e->d_name;
    if (EndsWith(name, kArchiveSuffix) && SweepOne(d + "/" + name)) ++deleted;
  }
  return deleted;
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
