// Feeds arbitrary bytes as one request to HandleClient over a socket pair.
// The registry holds a small file, an empty file and a missing one, so that
// pages, whole and partial downloads, 416 and 500 answers are all reachable.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>

#include "core/registry.h"
#include "http/handler.h"
#include "platform/message.h"
#include "platform/net.h"
#include "platform/text.h"

namespace {

constexpr size_t kMaxInput = 32768;

HWND g_fuzzWindow = nullptr;

void Host(const std::string& slug, const std::filesystem::path& path, const std::string& name,
          uint64_t size) {
  auto item = std::make_shared<HostedItem>();
  item->path = path.wstring();
  item->name = name;
  item->size = size;
  item->slug = slug;
  item->mode = 1;
  item->fileHandle = OpenFileShareRead(item->path);
  FileStamp stamp;
  if (ReadFileStamp(item->fileHandle, stamp)) item->modified = stamp.modified;
  std::lock_guard<std::mutex> lock(g_hostedMtx);
  g_hosted.push_back(item);
}

void SetUpOnce() {
  NetStartup();
  g_fuzzWindow = CreateMessageWindow();
  const auto dir = std::filesystem::temp_directory_path() /
                   ("vh-fuzz-" + std::to_string(static_cast<long>(getpid())));
  std::filesystem::create_directories(dir);
  {
    std::ofstream f(dir / "small.txt", std::ios::binary);
    for (int i = 0; i < 100; ++i) f.put(static_cast<char>('a' + i % 26));
  }
  { std::ofstream f(dir / "empty.bin", std::ios::binary); }
  Host("abc", dir / "small.txt", "a<b>&\"c'.txt", 100);
  Host("Empty_1", dir / "empty.bin", "empty.bin", 0);
  Host("gone-file", dir / "missing.pdf", "missing.pdf", 10);
}

void WriteAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n <= 0) return;
    data += n;
    size -= static_cast<size_t>(n);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = (SetUpOnce(), true);
  (void)ready;
  if (size > kMaxInput) return 0;
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) return 0;
  const int buf = 1 << 20;
  setsockopt(sv[0], SOL_SOCKET, SO_SNDBUF, &buf, sizeof buf);
  setsockopt(sv[0], SOL_SOCKET, SO_RCVBUF, &buf, sizeof buf);
  // The whole request, then end of input: HandleClient never waits on a time-out.
  WriteAll(sv[0], data, size);
  shutdown(sv[0], SHUT_WR);
  HandleClient(sv[1], g_fuzzWindow);
  char sink[4096];
  while (::recv(sv[0], sink, sizeof sink, 0) > 0) {
  }
  ::close(sv[0]);
  AppMessage m;
  while (WaitAppMessage(m, 0)) {
  }
  return 0;
}
