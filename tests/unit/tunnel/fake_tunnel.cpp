#include "fake_tunnel.h"

#include <fstream>
#include <sstream>

#include "core/app_messages.h"
#include "tunnel/reader.h"
#include "sharing/session.h"
#include "tunnel/supervisor.h"

std::vector<uint32_t> FakeTunnel::Pids() const {
  std::istringstream in(ReadWholeFile(dir_.File(L"pids.txt")));
  std::vector<uint32_t> pids;
  unsigned long pid = 0;
  while (in >> pid) pids.push_back(static_cast<uint32_t>(pid));
  return pids;
}

std::string ReadChildOutput(PipeHandle pipe, bool lineOnly) {
  std::string out;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  char buf[1024];
  uint32_t avail = 0;
  while (!(lineOnly && out.find('\n') != std::string::npos) &&
         std::chrono::steady_clock::now() < deadline && PeekPipe(pipe, avail)) {
    if (avail == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    const int64_t n = ReadPipe(pipe, buf, avail < sizeof buf ? avail : sizeof buf);
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

bool ProcessAlive(uint32_t pid) {
#ifdef _WIN32
  HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (!h) return false;
  const bool alive = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
  CloseHandle(h);
  return alive;
#else
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  if (!std::getline(stat, text)) return false;
  const size_t paren = text.rfind(')');
  return paren != std::string::npos && paren + 2 < text.size() && text[paren + 2] != 'Z' &&
         text[paren + 2] != 'X';
#endif
}

namespace {
bool IsTunnelMessage(unsigned msg) {
  return msg == WM_TUNNEL_FOUND || msg == WM_TUNNEL_READY || msg == WM_TUNNEL_FAILED;
}
void Drop(const AppMessage& m) {
  ClaimTunnelMessage(m.msg, m.lParam);
  if (m.msg == WM_TUNNEL_READY) FreeTunnelAddress(reinterpret_cast<char*>(m.lParam));
}
}  // namespace

std::vector<TunnelEvent> PumpTunnel(HWND hwnd, unsigned until, unsigned timeoutMs, bool handle) {
  using Clock = std::chrono::steady_clock;
  std::vector<TunnelEvent> events;
  const auto start = Clock::now();
  const auto deadline = start + std::chrono::milliseconds(timeoutMs);
  AppMessage m;
  while (Clock::now() < deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (!WaitAppMessage(m, static_cast<unsigned>(left.count()) + 1)) break;
    if (!IsTunnelMessage(m.msg)) continue;
    const char* text = reinterpret_cast<const char*>(m.lParam);
    events.push_back({m.msg, m.wParam, m.msg == WM_TUNNEL_READY && text ? text : "",
                      std::chrono::duration<double>(Clock::now() - start).count()});
    if (!handle) Drop(m);
    else if (m.msg == WM_TUNNEL_FOUND) OnTunnelFound(hwnd);
    else if (m.msg == WM_TUNNEL_READY) OnTunnelReady(hwnd, m.wParam, m.lParam);
    else OnTunnelFailed(hwnd);
    if (m.msg == until) break;
  }
  return events;
}

void DiscardTunnelMessages() {
  AppMessage m;
  while (WaitAppMessage(m, 0)) {
    if (IsTunnelMessage(m.msg)) Drop(m);
  }
}

std::vector<TunnelEvent> RunTunnelUntil(const char* script, unsigned until, unsigned timeoutMs) {
  DiscardTunnelMessages();
  const HWND hwnd = CreateMessageWindow();
  FakeTunnel fake(script);
  const bool started = StartTunnelIfNeeded(hwnd);
  auto events = started ? PumpTunnel(hwnd, until, timeoutMs, false) : std::vector<TunnelEvent>{};
  StopTunnel();
  DiscardTunnelMessages();
  DestroyMessageWindow(hwnd);
  return events;
}
