// Driving the fake tunnel client and playing the main window's loop for the tunnel messages.
#pragma once

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "core/events.h"
#include "net_client.h"
#include "platform/message.h"
#include "platform/process.h"
#include "platform/text.h"
#include "sharing/session.h"
#include "test_util.h"
#include "tunnel/reader.h"
#include "tunnel/supervisor.h"

// The fake's script and records, in a folder announced to children through VH_FAKE_TUNNEL_DIR.
class FakeTunnel {
 public:
  explicit FakeTunnel(const std::string& script = "hang\n") : env_("VH_FAKE_TUNNEL_DIR", WstrToUtf8(dir_.path())) {
    SetScript(script);
  }
  void SetScript(const std::string& script) const { dir_.Write(L"script.txt", script); }
  const std::wstring& Folder() const { return dir_.path(); }
  std::vector<uint32_t> Pids() const {  // every start so far, oldest first
    std::istringstream in(ReadWholeFile(dir_.File(L"pids.txt")));
    return {std::istream_iterator<uint32_t>(in), std::istream_iterator<uint32_t>()};
  }
 private:
  TempDir dir_;
  ScopedEnv env_;
};

// A child's output until it ends, 30 s pass, or (lineOnly) a line is complete.
inline std::string ReadChildOutput(PipeHandle pipe, bool lineOnly = false) {
  std::string out;
  WaitUntil([&] {
    char buf[1024];
    uint32_t avail = 0;
    if (!PeekPipe(pipe, avail)) return true;  // ended
    const int64_t n = avail ? ReadPipe(pipe, buf, avail < sizeof buf ? avail : sizeof buf) : 0;
    if (n > 0) out.append(buf, static_cast<size_t>(n));
    return n < 0 || (avail && n == 0) || (lineOnly && out.find('\n') != std::string::npos);
  }, 30000, 10);
  return out;
}

inline bool WaitProcessGone(uint32_t pid, unsigned timeoutMs) {  // a zombie counts as gone
  return WaitUntil([pid] {
#ifdef _WIN32
    HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, pid);
    const bool gone = !h || WaitForSingleObject(h, 0) != WAIT_TIMEOUT;
    if (h) CloseHandle(h);
    return gone;
#else
    std::string stat;
    std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/stat"), stat);
    const size_t paren = stat.rfind(')');
    return paren == std::string::npos || stat.size() < paren + 3 || stat[paren + 2] == 'Z' || stat[paren + 2] == 'X';
#endif
  }, timeoutMs);
}

// Tunnel events until one of kind `until`, or timeoutMs and then those queued, handled or (!handle) only taken.
inline std::vector<AppEvent> PumpTunnel(HWND hwnd, EventKind until, unsigned timeoutMs, bool handle) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  auto msLeft = [&] { return (deadline - std::chrono::steady_clock::now()) / std::chrono::milliseconds(1); };
  std::vector<AppEvent> events;
  for (bool woken = true; woken;) {
    AppMessage m;
    woken = WaitAppMessage(m, static_cast<unsigned>(std::max<int64_t>(0, msLeft())));
    for (AppEvent e; PopEvent(e);) {
      if (e.kind == EventKind::kDownloadDone) continue;
      if (handle) OnSharingEvent(hwnd, e);
      events.push_back(std::move(e));
      if (events.back().kind == until) return events;
    }
  }
  return events;
}
inline void DiscardTunnelMessages() { PumpTunnel(nullptr, EventKind::kDownloadDone, 0, false); }  // drops what is queued
