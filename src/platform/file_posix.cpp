#include "platform/file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/text.h"

FileHandle OpenFileShareRead(const std::wstring& path, HoldKind) {
  const std::string p = WstrToUtf8(path);
  if (p.empty()) return kInvalidFileHandle;
  // O_NONBLOCK: a FIFO would otherwise wait in open for a writer. It is
  // cleared again once the descriptor is known to be a regular file.
  int fd;
  do {
    fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return kInvalidFileHandle;
  struct stat st{};
  const int flags = fcntl(fd, F_GETFL);
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 ||
      fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    ::close(fd);
    return kInvalidFileHandle;
  }
  return fd;
}

void CloseFileHandle(FileHandle h) {
  if (h != kInvalidFileHandle) ::close(static_cast<int>(h));
}

bool GetFileSizeByHandle(FileHandle h, uint64_t& size) {
  FileStamp stamp;
  if (!ReadFileStamp(h, stamp)) return false;
  size = stamp.size;
  return true;
}

bool ReadFileStamp(FileHandle h, FileStamp& stamp) {
  struct stat st{};
  if (h == kInvalidFileHandle || fstat(static_cast<int>(h), &st) != 0) return false;
  stamp.size = static_cast<uint64_t>(st.st_size);
  stamp.modified = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  stamp.volume = static_cast<uint64_t>(st.st_dev);
  stamp.index = static_cast<uint64_t>(st.st_ino);
  return true;
}

int64_t ReadFileAt(FileHandle h, uint64_t offset, char* buf, size_t len) {
  ssize_t n;
  do {
    n = ::pread(static_cast<int>(h), buf, len, static_cast<off_t>(offset));
  } while (n < 0 && errno == EINTR);
  return n;
}

FileHandle OpenHeldFileForReading(FileHandle held) {
  if (held == kInvalidFileHandle) return kInvalidFileHandle;
  const int fd = fcntl(static_cast<int>(held), F_DUPFD_CLOEXEC, 0);
  return fd < 0 ? kInvalidFileHandle : fd;
}

bool DeleteFilePath(const std::wstring& path) {
  const std::string p = WstrToUtf8(path);
  return !p.empty() && ::unlink(p.c_str()) == 0;
}

bool DeleteHeldFile(FileHandle held, const std::wstring& path) {
  const std::string p = WstrToUtf8(path);
  struct stat named{}, opened{};
  if (held == kInvalidFileHandle || p.empty() || fstat(static_cast<int>(held), &opened) != 0 ||
      ::lstat(p.c_str(), &named) != 0 || named.st_dev != opened.st_dev || named.st_ino != opened.st_ino)
    return false;
  return ::unlink(p.c_str()) == 0;
}
