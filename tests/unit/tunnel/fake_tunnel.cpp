#include "fake_tunnel.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <fstream>
#endif

#include "core/app_messages.h"
#include "platform/module.h"
#include "platform/text.h"
#include "tunnel/reader.h"
#include "tunnel/supervisor.h"

FakeTunnel::FakeTunnel(const std::string& script)
    : env_("VH_FAKE_TUNNEL_DIR", WstrToUtf8(dir_.path())) {
  SetScript(script);
}

void FakeTunnel::SetScript(const std::string& script) const { dir_.Write(L"script.txt", script); }

std::vector<uint32_t> FakeTunnel::Pids() const {
  std::istringstream in(ReadWholeFile(dir_.File(L"pids.txt")));
  std::vector<uint32_t> pids;
  unsigned long pid = 0;
  while (in >> pid) pids.push_back(static_cast<uint32_t>(pid));
  return pids;
}

std::string FakeTunnel::CommandLine() const { return ReadWholeFile(dir_.File(L"cmdline.txt")); }

std::wstring FakeClientPath() {
  return ProgramFolder() + kPathSeparator + L"cloudflared" + kExecutableSuffix;
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
  if (paren == std::string::npos || paren + 2 >= text.size()) return false;
  const char state = text[paren + 2];
  return state != 'Z' && state != 'X';
#endif
}

bool WaitProcessGone(uint32_t pid, unsigned timeoutMs) {
  return WaitUntil([pid] { return !ProcessAlive(pid); }, timeoutMs);
}

std::vector<TunnelEvent> PumpTunnel(HWND hwnd, unsigned until, unsigned timeoutMs, bool handle) {
  std::vector<TunnelEvent> events;
  const auto start = std::chrono::steady_clock::now();
  const auto deadline = start + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) break;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
    AppMessage m;
    if (!WaitAppMessage(m, static_cast<unsigned>(left))) break;
    if (m.msg != WM_TUNNEL_FOUND && m.msg != WM_TUNNEL_READY && m.msg != WM_TUNNEL_FAILED) continue;
    TunnelEvent e;
    e.msg = m.msg;
    e.wParam = m.wParam;
    e.atSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    char* text = reinterpret_cast<char*>(m.lParam);
    if (m.msg == WM_TUNNEL_READY && text) e.address = text;
    events.push_back(e);
    if (handle) {
      if (m.msg == WM_TUNNEL_FOUND) OnTunnelFound(hwnd);
      if (m.msg == WM_TUNNEL_READY) OnTunnelReady(hwnd, m.wParam, m.lParam);
      if (m.msg == WM_TUNNEL_FAILED) OnTunnelFailed(hwnd);
    } else {
      // Taken off the queue without a handler: its mark goes with it.
      ClaimTunnelMessage(m.msg, m.lParam);
      if (m.msg == WM_TUNNEL_READY) FreeTunnelAddress(text);
    }
    if (m.msg == until) break;
  }
  return events;
}

void DiscardTunnelMessages() {
  AppMessage m;
  while (WaitAppMessage(m, 0)) {
    if (m.msg != WM_TUNNEL_FOUND && m.msg != WM_TUNNEL_READY && m.msg != WM_TUNNEL_FAILED) continue;
    ClaimTunnelMessage(m.msg, m.lParam);
    if (m.msg == WM_TUNNEL_READY) FreeTunnelAddress(reinterpret_cast<char*>(m.lParam));
  }
}
