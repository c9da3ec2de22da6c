// The HTTP suites' helpers: hosted test items, and requests to HandleClient over loopback.
#pragma once

#include <memory>
#include <mutex>
#include <thread>

#include "core/events.h"
#include "core/links.h"
#include "core/registry.h"
#include "http/handler.h"
#include "net_client.h"
#include "platform/file.h"
#include "platform/message.h"

// Hosts path as sharing does (link, held handle unless !lock, stamp); a tempZip makes it a folder's archive.
inline std::shared_ptr<HostedItem> HostItem(const std::string& slug, const std::wstring& path, uint64_t size,
                                            bool lock = true, ShareMode mode = ShareMode::kLan, const std::wstring& tempZip = {}) {
  auto item = std::make_shared<HostedItem>();
  item->path = path, item->name = "file.bin", item->size = size, item->slug = slug, item->mode = mode;
  item->isFolder = !tempZip.empty(), item->tempZip = tempZip;
  if (!path.empty()) item->fileHandle.reset(OpenFileShareRead(path, tempZip.empty() ? HoldKind::kRead : HoldKind::kReadAndDelete));
  ReadFileStamp(item->fileHandle.get(), item->stamp);
  if (!lock) item->fileHandle.reset();
  WithHostedLocked([&item](HostedLock& lock) { BuildItemUrl_locked(lock, *item), AppendHosted_locked(lock, item); });
  return item;
}
// kDownloadDone events: up to firstMs for the first, 300 ms (firstMs 0: none) for each further one.
inline int CountDownloadDone(unsigned firstMs = 2000) {
  int count = 0;
  AppMessage m;
  for (unsigned wait = firstMs; WaitAppMessage(m, wait); wait = firstMs ? 300 : 0)
    for (AppEvent e; PopEvent(e);) count += e.kind == EventKind::kDownloadDone;
  return count;
}

// Sends `request` to HandleClient, reads up to `firstBytes`; Finish() reads to the end (readMs 0: not) and joins.
struct Exchange {
  LoopbackPair p = MakeLoopbackPair();
  std::thread server;
  std::string answer;
  bool reset = false;
  Exchange(const std::string& request, HWND hwnd, size_t firstBytes = 0) : server(HandleClient, p.server, hwnd) {
    SendText(p.client, request);
    if (firstBytes) answer = ReadAll(p.client, 5000, nullptr, firstBytes);
  }
  Exchange& Finish(unsigned readMs = 10000) {
    if (readMs) answer += ReadAll(p.client, readMs, &reset);
    closesocket(p.client), server.join();
    return *this;
  }
};
inline std::string Ask(const std::string& req, HWND hwnd = nullptr) { return Exchange(req, hwnd).Finish().answer; }
// Bytes 0..n-1 of a recognisable pattern.
inline std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('A' + (i * 7 + i / 251) % 26);
  return s;
}
