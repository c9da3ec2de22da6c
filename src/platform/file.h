// Files: the share-read lock that keeps writers and deleters out while an item
// is hosted, reading for the server, sizes and deletion.
//
// Windows: CreateFileW(GENERIC_READ, FILE_SHARE_READ) really keeps writers and
// deleters out. POSIX has no share modes: holding an O_RDONLY descriptor is the
// best we can do there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A HANDLE on Windows, a descriptor on POSIX; -1 is INVALID_HANDLE_VALUE on both.
using FileHandle = intptr_t;
constexpr FileHandle kInvalidFileHandle = -1;

// Opens an existing file for reading, sharing only reading with others.
FileHandle OpenFileShareRead(const std::wstring& path);
void CloseFileHandle(FileHandle h);
bool GetFileSizeByHandle(FileHandle h, uint64_t& size);
bool SeekFileHandle(FileHandle h, uint64_t offset);
// Bytes read (0 at end of file), or -1 on error.
int64_t ReadFileHandle(FileHandle h, char* buf, size_t len);
bool DeleteFilePath(const std::wstring& path);

// Move-only owner of a FileHandle.
class ScopedFile {
 public:
  ScopedFile() = default;
  explicit ScopedFile(FileHandle h) : h_(h) {}
  ~ScopedFile() { reset(); }
  ScopedFile(const ScopedFile&) = delete;
  ScopedFile& operator=(const ScopedFile&) = delete;
  ScopedFile(ScopedFile&& o) noexcept : h_(o.release()) {}
  ScopedFile& operator=(ScopedFile&& o) noexcept {
    if (this != &o) {
      reset();
      h_ = o.release();
    }
    return *this;
  }
  FileHandle get() const { return h_; }
  bool valid() const { return h_ != kInvalidFileHandle; }
  FileHandle release() {
    FileHandle h = h_;
    h_ = kInvalidFileHandle;
    return h;
  }
  void reset() {
    if (valid()) CloseFileHandle(h_);
    h_ = kInvalidFileHandle;
  }

 private:
  FileHandle h_ = kInvalidFileHandle;
};
