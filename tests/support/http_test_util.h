// Shared pieces of the HTTP suites: hosting test items and one request over a
// real loopback connection answered by HandleClient on its own thread.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "core/app_messages.h"
#include "core/registry.h"
#include "http/handler.h"
#include "net_client.h"
#include "platform/file.h"
#include "platform/message.h"

// Opens item.path as sharing does: the held handle and the recorded stamp.
inline bool HoldSharedFile(HostedItem& item) {
  item.fileHandle = OpenFileShareRead(item.path);
  FileStamp stamp;
  if (!ReadFileStamp(item.fileHandle, stamp)) return false;
  item.modified = stamp.modified;
  return true;
}

// Puts an item for the file at path into the registry, with the file's stamp
// as sharing records it. `lock` keeps the item's share-read handle open as
// sharing a file does; without it (Windows tests that change the file) the
// handle is closed again, and POSIX requests then have nothing to read.
inline std::shared_ptr<HostedItem> HostItem(const std::string& slug, const std::wstring& path,
                                            const std::string& name, uint64_t size,
                                            bool lock = true, const std::wstring& tempZip = {}) {
  auto item = std::make_shared<HostedItem>();
  item->path = path;
  item->name = name;
  item->size = size;
  item->slug = slug;
  item->mode = 1;
  item->isFolder = !tempZip.empty();
  item->tempZip = tempZip;
  HoldSharedFile(*item);
  if (!lock) {
    CloseFileHandle(item->fileHandle);
    item->fileHandle = kInvalidFileHandle;
  }
  std::lock_guard<std::mutex> guard(g_hostedMtx);
  g_hosted.push_back(item);
  return item;
}

// Discards application messages left over from earlier requests.
inline void DrainAppMessages() {
  AppMessage m;
  while (WaitAppMessage(m, 0)) {
  }
}

// Counts WM_DOWNLOAD_DONE messages: waits up to firstMs for the first and then
// quietMs for each further one.
inline int CountDownloadDone(unsigned firstMs = 2000, unsigned quietMs = 300) {
  int count = 0;
  AppMessage m;
  unsigned wait = firstMs;
  while (WaitAppMessage(m, wait)) {
    if (m.msg == WM_DOWNLOAD_DONE) ++count;
    wait = quietMs;
  }
  return count;
}

struct Exchange {
  std::string answer;
  bool reset = false;
};

// Sends request on a fresh loopback connection served by HandleClient and
// reads the answer until the server ends the connection.
inline Exchange Ask(const std::string& request, HWND hwnd = nullptr) {
  Exchange ex;
  LoopbackPair p = MakeLoopbackPair();
  if (p.client == INVALID_SOCKET) {
    ex.reset = true;
    return ex;
  }
  std::thread server(HandleClient, p.server, hwnd);
  SendText(p.client, request);
  ex.answer = ReadAll(p.client, 10000, &ex.reset);
  closesocket(p.client);
  server.join();
  return ex;
}

// Bytes 0..n-1 of a recognisable pattern.
inline std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('A' + (i * 7 + i / 251) % 26);
  return s;
}
