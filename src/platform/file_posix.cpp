#include "platform/file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/text.h"

FileHandle OpenFileShareRead(const std::wstring& path) {
  const std::string p = WstrToUtf8(path);
  if (p.empty()) return kInvalidFileHandle;
  int fd;
  do {
    fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return kInvalidFileHandle;
  struct stat st{};
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return kInvalidFileHandle;
  }
  return fd;
}

void CloseFileHandle(FileHandle h) {
  if (h != kInvalidFileHandle) ::close(static_cast<int>(h));
}

bool GetFileSizeByHandle(FileHandle h, uint64_t& size) {
  struct stat st{};
  if (h == kInvalidFileHandle || fstat(static_cast<int>(h), &st) != 0) return false;
  size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool SeekFileHandle(FileHandle h, uint64_t offset) {
  return lseek(static_cast<int>(h), static_cast<off_t>(offset), SEEK_SET) >= 0;
}

int64_t ReadFileHandle(FileHandle h, char* buf, size_t len) {
  ssize_t n;
  do {
    n = ::read(static_cast<int>(h), buf, len);
  } while (n < 0 && errno == EINTR);
  return n;
}

bool DeleteFilePath(const std::wstring& path) {
  const std::string p = WstrToUtf8(path);
  return !p.empty() && ::unlink(p.c_str()) == 0;
}
