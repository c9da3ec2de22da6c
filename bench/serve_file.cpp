// Benchmark server: hosts one file under the slug "bench" and answers every
// connection on 127.0.0.1 with HandleClient on a detached thread, the way the
// program's listener does. Prints "port N" once it listens; runs until killed.
//
//   serve_file FILE [PORT]
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "core/registry.h"
#include "http/handler.h"
#include "platform/file.h"
#include "platform/message.h"
#include "platform/net_os.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: serve_file FILE [PORT]\n");
    return 2;
  }
  NetStartup();
  const std::filesystem::path file = argv[1];
  auto item = std::make_shared<HostedItem>();
  item->path = file.wstring();
  item->name = file.filename().string();
  item->slug = "bench";
  item->mode = ShareMode::kLan;
  item->fileHandle = OpenFileShareRead(item->path);
  if (item->fileHandle == kInvalidFileHandle || !ReadFileStamp(item->fileHandle, item->stamp)) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  item->size = item->stamp.size;
  WithHostedLocked([&item](HostedLock& lock) { AppendHosted_locked(lock, item); });

  SOCKET ls = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  int one = 1;
  setsockopt(ls, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(argc > 2 ? std::atoi(argv[2]) : 0));
  socklen_t len = sizeof a;
  if (bind(ls, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(ls, 128) != 0 ||
      getsockname(ls, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    std::perror("listen");
    return 1;
  }
  std::printf("port %d\n", ntohs(a.sin_port));
  std::fflush(stdout);

  const HWND window = CreateMessageWindow();
  // The download messages would pile up in the queue without a main window.
  std::thread([] {
    AppMessage m;
    for (;;) WaitAppMessage(m, 1000);
  }).detach();

  for (;;) {
    SOCKET s = accept(ls, nullptr, nullptr);
    if (s == INVALID_SOCKET) continue;
    try {
      std::thread(HandleClient, s, window).detach();
    } catch (const std::exception&) {
      closesocket(s);
    }
  }
}
