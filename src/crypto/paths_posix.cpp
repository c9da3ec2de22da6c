// Per-user folder and owner-only files on POSIX: XDG base directory, modes
// 0700 / 0600, fsync of the file and of its folder around the rename.
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "crypto/paths.h"
#include "crypto/paths_os.h"
#include "platform/owned.h"
#include "platform/text.h"

namespace vh::paths {

namespace {

constexpr mode_t kDirMode = 0700;
constexpr mode_t kFileMode = 0600;

using Fd = Owned<int, -1, ::close>;

std::string Narrow(const std::wstring& w) { return WstrToUtf8(w); }

std::string ParentOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool WriteAll(int fd, const uint8_t* data, uint64_t len) {
  while (len > 0) {
    const size_t chunk = len > (1u << 30) ? (1u << 30) : static_cast<size_t>(len);
    const ssize_t n = write(fd, data, chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    data += n;
    len -= static_cast<uint64_t>(n);
  }
  return true;
}

bool SyncFolder(const std::string& dir) {
  Fd fd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return fd.valid() && fsync(fd.get()) == 0;
}

}  // namespace

std::wstring SystemBaseDir() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') return Utf8ToWstr(xdg);  // relative values are ignored
  std::string home;
  if (const char* h = std::getenv("HOME"); h && h[0] != '\0') {
    home = h;
  } else {
    struct passwd pw {};
    struct passwd* found = nullptr;
    char buf[4096];
    if (getpwuid_r(getuid(), &pw, buf, sizeof buf, &found) == 0 && found && found->pw_dir)
      home = found->pw_dir;
  }
  if (home.empty()) return {};
  return Utf8ToWstr(home + "/.config");
}

bool MakeDirectory(const std::wstring& dir) {
  const std::string d = Narrow(dir);
  if (d.empty()) return false;
  if (mkdir(d.c_str(), kDirMode) == 0 || errno == EEXIST) {
    struct stat st {};
    return stat(d.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }
  if (errno != ENOENT) return false;
  // A fresh account may not have its base folder yet: create that one level too.
  const std::string parent = ParentOf(d);
  if (mkdir(parent.c_str(), kDirMode) != 0 && errno != EEXIST) return false;
  return mkdir(d.c_str(), kDirMode) == 0 || errno == EEXIST;
}


bool WriteFileOwnerOnly(const std::wstring& path, const uint8_t* data, uint64_t len) {
  const std::string target = Narrow(path);
  if (target.empty()) return false;
  const std::string tmp = target + Narrow(kTempSuffix);

  // No O_TRUNC here: a second writer must not cut the first one's data before
  // it found out, through the lock, that it lost.
  Fd fd(open(tmp.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kFileMode));
  if (!fd.valid()) return false;
  if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return false;  // another writer owns it
  // The lock may have come free because its owner just renamed this very file
  // over the target: then the name no longer leads to our descriptor.
  struct stat mine {}, named {};
  if (fstat(fd.get(), &mine) != 0 || lstat(tmp.c_str(), &named) != 0 ||
      mine.st_dev != named.st_dev || mine.st_ino != named.st_ino || !S_ISREG(mine.st_mode))
    return false;

  bool ok = fchmod(fd.get(), kFileMode) == 0 && ftruncate(fd.get(), 0) == 0 &&
            WriteAll(fd.get(), data, len) && fsync(fd.get()) == 0;
  // Rename while still holding the lock, so a second writer that opens the
  // name afterwards gets a new file rather than this one.
  ok = ok && rename(tmp.c_str(), target.c_str()) == 0;
  if (!ok) unlink(tmp.c_str());
  if (::close(fd.release()) != 0) ok = false;  // e.g. a deferred write error
  if (!ok) return false;
  // Make the rename itself durable.
  return SyncFolder(ParentOf(target));
}

bool MoveFileReplacing(const std::wstring& from, const std::wstring& to) {
  const std::string src = Narrow(from);
  const std::string dst = Narrow(to);
  if (src.empty() || dst.empty() || rename(src.c_str(), dst.c_str()) != 0) return false;
  return SyncFolder(ParentOf(dst));
}

bool ReadFileAll(const std::wstring& path, std::vector<uint8_t>& out) {
  const std::string p = Narrow(path);
  if (p.empty()) return false;
  // O_NONBLOCK: a FIFO under the key file's name must not hang the caller.
  Fd fd(open(p.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.valid()) return false;
  struct stat st {};
  if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (st.st_size < 0 || static_cast<uint64_t>(st.st_size) > kReadLimit) return false;
  const size_t size = static_cast<size_t>(st.st_size);
  std::vector<uint8_t> buf(size, 0);
  size_t got = 0;
  while (got < size) {
    const ssize_t n = read(fd.get(), buf.data() + got, size - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  if (got != size) return false;
  out.swap(buf);
  return true;
}

}  // namespace vh::paths
