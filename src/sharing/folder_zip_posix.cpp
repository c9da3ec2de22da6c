#include "sharing/folder_zip.h"

#include <archive.h>
#include <archive_entry.h>
#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/owned_posix.h"
#include "text/utf8.h"

namespace {

constexpr size_t kPiece = 256 * 1024;              // one read, one stop check
constexpr size_t kMemorySpool = 8 * 1024 * 1024;   // larger files wait in a temporary file
// Longer names are left out: unzip cuts them and no system extracts them.
constexpr size_t kMaxEntryName = PATH_MAX - 1;
constexpr int kBeneathRetries = 8;                 // openat2 answers EAGAIN on a rename race
constexpr int kMaxLinkHops = 40;                   // as the kernel's own limit

void FreeArchive(archive* a) { archive_write_free(a); }
using ScopedArchive = Owned<archive*, nullptr, FreeArchive>;
void FreeEntry(archive_entry* e) { archive_entry_free(e); }
using ScopedEntry = Owned<archive_entry*, nullptr, FreeEntry>;

struct Writer {
  explicit Writer(const FolderZipHooks& h) : hooks(h) {}
  const FolderZipHooks& hooks;
  archive* ar = nullptr;
  int out = -1;             // the archive file
  int rootFd = -1;          // the shared folder
  std::string rootReal;     // its resolved path, for absolute links into it
  std::string shownRoot;    // the folder as given, for reports
  std::string top;          // "NAME/", every entry's prefix
  std::string spoolDir;     // the archive's folder
  struct stat archiveSt {};
  uint64_t files = 0, bytes = 0, written = 0;
  std::vector<char> piece = std::vector<char>(kPiece);  // one read or copy at a time, made once
  ZipEnd end = ZipEnd::kDone;  // anything else ends the whole run
  int error = 0;
};

// A file's bytes as read, before its entry is written.
struct Spool {
  std::string memory;
  ScopedFd file;
  uint64_t size = 0;
};

bool Failed(Writer& w, ZipEnd end, int error) {
  if (w.end == ZipEnd::kDone) w.end = end, w.error = error;
  return false;
}

// Asks whether to go on, and tells the progress. False once the run ends.
bool GoOn(Writer& w) {
  if (w.end != ZipEnd::kDone) return false;
  if (w.hooks.progress) w.hooks.progress(w.files, w.bytes, false);
  const CompressStop s = w.hooks.stop ? w.hooks.stop() : CompressStop::kGoOn;
  if (s == CompressStop::kCancelled) return Failed(w, ZipEnd::kCancelled, 0);
  if (s == CompressStop::kTimedOut) return Failed(w, ZipEnd::kTimedOut, 0);
  return true;
}

void Skip(Writer& w, const std::string& rel, SkipReason why, int error = 0) {
  if (w.hooks.skipped) w.hooks.skipped(w.shownRoot + "/" + rel, why, error);
}

la_ssize_t WriteOut(archive*, void* data, const void* buf, size_t n) {
  Writer& w = *static_cast<Writer*>(data);
  if (w.end != ZipEnd::kDone) return -1;  // a dropped archive takes nothing more
  if (w.written + n > w.hooks.capBytes) return Failed(w, ZipEnd::kTooLarge, 0), -1;
  const char* p = static_cast<const char*>(buf);
  for (size_t done = 0; done < n;) {
    const ssize_t k = ::write(w.out, p + done, n - done);
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) return Failed(w, ZipEnd::kWriteFailed, k < 0 ? errno : EIO), -1;
    done += static_cast<size_t>(k);
  }
  w.written += n;
  return static_cast<la_ssize_t>(n);
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool Unchanged(const struct stat& a, const struct stat& b) {
  return SameFile(a, b) && a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
         a.st_mtim.tv_nsec == b.st_mtim.tv_nsec && a.st_ctim.tv_sec == b.st_ctim.tv_sec &&
         a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

SkipReason SpecialReason(mode_t mode) {
  if (S_ISFIFO(mode)) return SkipReason::kFifo;
  if (S_ISSOCK(mode)) return SkipReason::kSocket;
  return SkipReason::kDevice;
}

// A nameless file beside the archive; a named one unlinked at once where
// O_TMPFILE is not supported.
ScopedFd OpenSpoolFile(const Writer& w) {
  ScopedFd fd(::open(w.spoolDir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
  if (fd) return fd;
  std::string name = w.spoolDir + "/.spool-XXXXXX";
  fd.reset(::mkostemp(name.data(), O_CLOEXEC));
  if (fd) ::unlink(name.c_str());
  return fd;
}

bool SpoolPiece(const Writer& w, Spool& s, const char* p, size_t n) {
  if (!s.file && s.memory.size() + n <= kMemorySpool) {
    s.memory.append(p, n);
    return true;
  }
  if (!s.file && !(s.file = OpenSpoolFile(w))) return false;
  for (size_t done = 0; done < n;) {
    const ssize_t k = ::pwrite(s.file.get(), p + done, n - done,
                               static_cast<off_t>(s.size - s.memory.size() + done));
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) return false;
    done += static_cast<size_t>(k);
  }
  return true;
}

// Reads the whole file into `s`. kDone when its bytes are consistent: the
// size read is the size it had before and after, and neither of its times
// moved meanwhile; otherwise the file is reported and false returned.
bool ReadConsistently(Writer& w, int fd, const struct stat& before, const std::string& rel, Spool& s) {
  if (static_cast<uint64_t>(before.st_size) > w.hooks.capBytes) return Failed(w, ZipEnd::kTooLarge, 0);
  std::vector<char>& buf = w.piece;
  for (;;) {
    if (!GoOn(w)) return false;
    const ssize_t n = ::read(fd, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Skip(w, rel, SkipReason::kUnreadable, errno), false;
    if (n == 0) break;
    if (s.size + static_cast<uint64_t>(n) > static_cast<uint64_t>(before.st_size))
      return Skip(w, rel, SkipReason::kChanged), false;  // it grew
    if (!SpoolPiece(w, s, buf.data(), static_cast<size_t>(n))) return Failed(w, ZipEnd::kWriteFailed, errno);
    s.size += static_cast<uint64_t>(n);
    w.bytes += static_cast<uint64_t>(n);
  }
  struct stat after {};
  if (::fstat(fd, &after) != 0 || !Unchanged(before, after) || s.size != static_cast<uint64_t>(after.st_size))
    return Skip(w, rel, SkipReason::kChanged), false;
  return true;
}

bool WriteHeader(Writer& w, const std::string& name, mode_t type, const struct stat& st, uint64_t size) {
  ScopedEntry e(archive_entry_new());
  if (!e) return Failed(w, ZipEnd::kWriteFailed, ENOMEM);
  archive_entry_set_pathname_utf8(e.get(), name.c_str());
  archive_entry_set_filetype(e.get(), type);
  archive_entry_set_perm(e.get(), type == AE_IFDIR || (st.st_mode & 0111) ? 0755 : 0644);
  archive_entry_set_size(e.get(), static_cast<la_int64_t>(size));
  archive_entry_set_mtime(e.get(), st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  if (archive_write_header(w.ar, e.get()) != ARCHIVE_OK) return Failed(w, ZipEnd::kWriteFailed, EIO);
  return true;
}

bool WriteData(Writer& w, const char* p, size_t n) {
  if (n > 0 && archive_write_data(w.ar, p, n) != static_cast<la_ssize_t>(n))
    return Failed(w, ZipEnd::kWriteFailed, EIO);
  return true;
}

bool WriteSpooled(Writer& w, const std::string& rel, const struct stat& st, const Spool& s) {
  if (!WriteHeader(w, w.top + rel, AE_IFREG, st, s.size)) return false;
  if (!WriteData(w, s.memory.data(), s.memory.size())) return false;
  std::vector<char>& buf = w.piece;
  for (uint64_t at = 0; at < s.size - s.memory.size();) {
    const ssize_t n = ::pread(s.file.get(), buf.data(), buf.size(), static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Failed(w, ZipEnd::kWriteFailed, n < 0 ? errno : EIO);
    if (!WriteData(w, buf.data(), static_cast<size_t>(n))) return false;
    at += static_cast<uint64_t>(n);
  }
  if (archive_write_finish_entry(w.ar) != ARCHIVE_OK) return Failed(w, ZipEnd::kWriteFailed, EIO);
  ++w.files;
  return true;
}

// A regular file (or a link's target) opened as `fd`: stored under `rel`.
void AddOpenedFile(Writer& w, int fd, const std::string& rel) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return Skip(w, rel, SkipReason::kUnreadable, errno);
  if (S_ISDIR(st.st_mode)) return Skip(w, rel, SkipReason::kLinkToFolder);
  if (!S_ISREG(st.st_mode)) return Skip(w, rel, SpecialReason(st.st_mode));
  if (SameFile(st, w.archiveSt)) return Skip(w, rel, SkipReason::kArchiveItself);
  Spool spool;
  if (ReadConsistently(w, fd, st, rel, spool)) WriteSpooled(w, rel, st, spool);
}

std::string ReadLinkAt(int dirFd, const char* name) {
  std::string target(PATH_MAX, '\0');
  const ssize_t n = ::readlinkat(dirFd, name, target.data(), target.size());
  target.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return target;
}

// Opens `path` beneath the folder where openat2 is missing: one component at
// a time, each opened relative to the folder held before it without following
// links; links are read and resolved here and ".." steps back along the
// folders held, so nothing renamed meanwhile leads above the folder. Fails as
// openat2 with RESOLVE_BENEATH would (EXDEV, ELOOP, ENOENT, ...).
int OpenBeneathByWalk(int rootFd, const std::string& path) {
  std::vector<ScopedFd> held;  // the folders below the root on the way
  std::vector<std::string> rest;  // components still to go, the next one last
  const auto push = [&](const std::string& p) {
    for (size_t end = p.size(), slash; end != std::string::npos && end > 0; end = slash) {
      slash = p.rfind('/', end - 1);
      const size_t from = slash == std::string::npos ? 0 : slash + 1;
      rest.push_back(p.substr(from, end - from));
      if (slash == std::string::npos) break;
    }
  };
  push(path);
  for (int hops = 0; !rest.empty();) {
    const std::string c = std::move(rest.back());
    rest.pop_back();
    const int dir = held.empty() ? rootFd : held.back().get();
    if (c.empty() || c == ".") continue;
    if (c == "..") {
      if (held.empty()) return errno = EXDEV, -1;
      held.pop_back();
      continue;
    }
    struct stat st {};
    if (::fstatat(dir, c.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return -1;
    if (S_ISLNK(st.st_mode)) {
      const std::string target = ReadLinkAt(dir, c.c_str());
      if (++hops > kMaxLinkHops || target.empty()) return errno = ELOOP, -1;
      if (target[0] == '/') return errno = EXDEV, -1;
      push(target);
      continue;
    }
    const int flags = rest.empty() ? O_RDONLY | O_NONBLOCK | O_NOCTTY : O_RDONLY | O_DIRECTORY;
    ScopedFd fd(::openat(dir, c.c_str(), flags | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) return errno == ELOOP ? (errno = EAGAIN, -1) : -1;  // swapped for a link meanwhile
    if (rest.empty()) return fd.release();
    held.push_back(std::move(fd));
  }
  return ::fcntl(rootFd, F_DUPFD_CLOEXEC, 0);  // the path named the folder itself
}

int OpenBeneath(const Writer& w, const std::string& path) {
  if (w.hooks.resolveByWalk) return OpenBeneathByWalk(w.rootFd, path);
  open_how how{};
  how.flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
  for (int i = 0; i < kBeneathRetries; ++i) {
    const long fd = ::syscall(SYS_openat2, w.rootFd, path.c_str(), &how, sizeof how);
    if (fd >= 0) return static_cast<int>(fd);
    if (errno == ENOSYS || errno == EPERM) return OpenBeneathByWalk(w.rootFd, path);  // old kernel, or filtered
    if (errno != EAGAIN) return -1;
  }
  return -1;
}

// A link is stored as a copy of its target when that resolves beneath the
// folder to a regular file. An absolute target is taken beneath the folder
// only when it names a path inside the folder's resolved path.
void AddLink(Writer& w, int dirFd, const char* name, const std::string& rel) {
  std::string path = rel;
  const std::string target = ReadLinkAt(dirFd, name);
  if (!target.empty() && target[0] == '/') {
    const std::string prefix = w.rootReal == "/" ? "/" : w.rootReal + "/";
    if ((target + "/").compare(0, prefix.size(), prefix) != 0) return Skip(w, rel, SkipReason::kLinkOutside);
    path = target.size() > prefix.size() ? target.substr(prefix.size()) : ".";
  }
  ScopedFd fd(OpenBeneath(w, path));
  if (!fd) {
    switch (errno) {
      case EXDEV: return Skip(w, rel, SkipReason::kLinkOutside);
      case ENOENT: case ELOOP: case ENOTDIR: return Skip(w, rel, SkipReason::kLinkBroken);
      case ENAMETOOLONG: return Skip(w, rel, SkipReason::kTooDeep);
      case EAGAIN: return Skip(w, rel, SkipReason::kChanged);
      default: return Skip(w, rel, SkipReason::kUnreadable, errno);
    }
  }
  AddOpenedFile(w, fd.get(), rel);
}

void WalkFolder(Writer& w, ScopedDir dir, const std::string& rel, int depth);

void AddFolder(Writer& w, int dirFd, const char* name, const std::string& rel, const struct stat& st,
               int depth) {
  if (depth >= kZipMaxDepth) return Skip(w, rel, SkipReason::kTooDeep);
  ScopedFd fd(::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) {
    const int e = errno;
    return Skip(w, rel, e == ELOOP || e == ENOTDIR ? SkipReason::kChanged : SkipReason::kUnreadable, e);
  }
  struct stat now {};
  if (::fstat(fd.get(), &now) != 0 || !SameFile(st, now)) return Skip(w, rel, SkipReason::kChanged);
  ScopedDir dir(::fdopendir(fd.get()));
  if (!dir) return Skip(w, rel, SkipReason::kUnreadable, errno);
  fd.release();  // the stream owns it now
  if (!WriteHeader(w, w.top + rel + "/", AE_IFDIR, now, 0)) return;
  if (archive_write_finish_entry(w.ar) != ARCHIVE_OK) return (void)Failed(w, ZipEnd::kWriteFailed, EIO);
  WalkFolder(w, std::move(dir), rel, depth + 1);
}

void AddEntry(Writer& w, int dirFd, const std::string& name, const std::string& parentRel, int depth) {
  const std::string rel = parentRel.empty() ? name : parentRel + "/" + name;
  if (!IsValidUtf8(name)) return Skip(w, rel, SkipReason::kNotUtf8);
  if (w.top.size() + rel.size() + 1 > kMaxEntryName) return Skip(w, rel, SkipReason::kTooDeep);
  struct stat st {};
  if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
    return Skip(w, rel, errno == ENOENT ? SkipReason::kChanged : SkipReason::kUnreadable, errno);
  if (S_ISDIR(st.st_mode)) return AddFolder(w, dirFd, name.c_str(), rel, st, depth);
  if (S_ISLNK(st.st_mode)) return AddLink(w, dirFd, name.c_str(), rel);
  if (!S_ISREG(st.st_mode)) return Skip(w, rel, SpecialReason(st.st_mode));
  ScopedFd fd(::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd) {
    const int e = errno;
    return Skip(w, rel, e == ELOOP || e == ENOENT ? SkipReason::kChanged : SkipReason::kUnreadable, e);
  }
  AddOpenedFile(w, fd.get(), rel);
}

// The folder's names are read first (sorted, so archives are alike from run
// to run), then each is archived.
void WalkFolder(Writer& w, ScopedDir dir, const std::string& rel, int depth) {
  std::vector<std::string> names;
  errno = 0;
  while (const dirent* e = ::readdir(dir.get())) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
    errno = 0;
  }
  if (errno != 0) Skip(w, rel.empty() ? "." : rel, SkipReason::kUnreadable, errno);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    if (!GoOn(w)) return;
    AddEntry(w, dirfd(dir.get()), name, rel, depth);
  }
}

std::string LastComponent(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const size_t slash = p.rfind('/');
  std::string name = slash == std::string::npos ? p : p.substr(slash + 1);
  return name.empty() || !IsValidUtf8(name) ? "folder" : name;
}

bool OpenArchive(Writer& w) {
  ScopedArchive ar(archive_write_new());
  if (!ar || archive_write_set_format_zip(ar.get()) != ARCHIVE_OK ||
      archive_write_set_options(ar.get(), "zip:hdrcharset=UTF-8") != ARCHIVE_OK ||
      archive_write_set_bytes_in_last_block(ar.get(), 1) != ARCHIVE_OK ||
      archive_write_open(ar.get(), &w, nullptr, WriteOut, nullptr) != ARCHIVE_OK)
    return Failed(w, ZipEnd::kWriteFailed, EIO);
  w.ar = ar.release();
  return true;
}

ZipEnd Finish(Writer& w, int& error) {
  // Closed also when dropped (archive_write_fail would leak the output buffer); WriteOut then refuses
  // the central directory.
  if (archive_write_close(w.ar) != ARCHIVE_OK) Failed(w, ZipEnd::kWriteFailed, EIO);
  archive_write_free(w.ar);
  w.ar = nullptr;
  if (w.hooks.progress) w.hooks.progress(w.files, w.bytes, true);
  error = w.error;
  return w.end;
}

}  // namespace

ZipEnd WriteFolderZip(const std::string& folder, const std::string& archive, const FolderZipHooks& hooks,
                      int& error) {
  Writer w(hooks);
  ScopedFd out(::open(archive.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC));
  if (!out || ::fstat(out.get(), &w.archiveSt) != 0) return error = errno, ZipEnd::kWriteFailed;
  ScopedFd root(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  char real[PATH_MAX];
  if (!root || ::realpath(folder.c_str(), real) == nullptr) return error = errno, ZipEnd::kNoFolder;
  ScopedFd walkFd(::dup(root.get()));
  ScopedDir dir(walkFd ? ::fdopendir(walkFd.get()) : nullptr);
  if (!dir) return error = errno, ZipEnd::kNoFolder;
  walkFd.release();
  w.out = out.get();
  w.rootFd = root.get();
  w.rootReal = real;
  w.shownRoot = folder.size() > 1 && folder.back() == '/' ? folder.substr(0, folder.size() - 1) : folder;
  w.top = LastComponent(folder) + "/";
  w.spoolDir = archive.substr(0, archive.rfind('/') == 0 ? 1 : archive.rfind('/'));
  if (!OpenArchive(w)) return error = w.error, w.end;
  WalkFolder(w, std::move(dir), std::string(), 0);
  return Finish(w, error);
}
