// Benchmark server: hosts one file under the slug "bench" and serves it through
// the program's own listener (accept thread, waiting room, connection threads)
// on 127.0.0.1. Prints "port N" once it listens; runs until killed.
//
//   serve_file FILE
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>

#include "core/events.h"
#include "core/links.h"
#include "core/registry.h"
#include "http/listener.h"
#include "platform/file.h"
#include "platform/message.h"
#include "platform/net.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: serve_file FILE\n");
    return 2;
  }
  NetStartup();
  const std::filesystem::path file = argv[1];
  auto item = std::make_shared<HostedItem>();
  item->path = file.wstring();
  item->name = file.filename().string();
  item->slug = "bench";
  item->mode = ShareMode::kInternet;  // an Internet item: the listener stays on 127.0.0.1
  item->fileHandle.reset(OpenFileShareRead(item->path));
  if (!item->fileHandle.valid() || !ReadFileStamp(item->fileHandle.get(), item->stamp)) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  item->size = item->stamp.size;
  WithHostedLocked([&item](HostedLock& lock) { AppendHosted_locked(lock, item); });

  const HWND window = CreateMessageWindow();
  if (StartServerIfNeeded(window, false) != ServerStart::kRunning) {
    std::fprintf(stderr, "cannot listen\n");
    return 1;
  }
  std::printf("port %d\n", ServerPort());
  std::fflush(stdout);
  // The ended downloads would pile up in the queues without a main window.
  AppMessage m;
  for (;;) {
    WaitAppMessage(m, 1000);
    for (AppEvent e; PopEvent(e);) continue;
  }
}
