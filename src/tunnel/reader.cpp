#include "tunnel/reader.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>
#include <utility>
#include <vector>

#include "core/app_messages.h"
#include "platform/https_probe.h"
#include "platform/message.h"
#include "platform/process.h"
#include "platform/text.h"
#include "tunnel/supervisor.h"

namespace {

constexpr size_t kReadChunk = 1024;        // bytes per pipe read at most
constexpr size_t kMaxLineBytes = 4096;     // bytes kept of one output line
constexpr auto kIdlePause = std::chrono::milliseconds(100);
constexpr auto kProbePause = std::chrono::milliseconds(800);
constexpr int64_t kAddressLimitNs = 59999999999;  // 60 s for the address to appear
constexpr int64_t kProbeLimitNs = 14999999999;    // 15 s of probing before publishing anyway

std::atomic<TunnelProbeFn> g_probeForTest{nullptr};

// Messages the reader posted that no handler has taken yet, as (message,
// lParam) pairs. Any program on the desktop can post the same numbers to the
// main window; the handlers act only on what they find here.
std::mutex g_pendingMtx;
std::vector<std::pair<UINT, LPARAM>> g_pending;

int64_t ElapsedNs(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() -
                                                              since)
      .count();
}

bool ProbeOnce(const std::wstring& url) {
  const TunnelProbeFn fn = g_probeForTest.load();
  return fn ? fn(url) : ProbeHttpsStatus200(url);
}

// Marks the message as the reader's, then posts it; the mark goes again when
// posting fails.
bool PostMarked(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  MarkTunnelMessage(msg, lParam);
  if (PostWindowMessage(hwnd, msg, wParam, lParam)) return true;
  ClaimTunnelMessage(msg, lParam);
  return false;
}

void PostFailedIfRunning(HWND hwnd) {
  if (g_tunRunning.load()) PostMarked(hwnd, WM_TUNNEL_FAILED, 0, 0);
}

// Reads and discards what is waiting in the pipe. False when the first peek
// fails (the client's output ended).
bool Drain(PipeHandle pipe) {
  uint32_t avail = 0;
  if (!PeekPipe(pipe, avail)) return false;
  char buf[kReadChunk];
  while (avail > 0) {
    const int64_t n = ReadPipe(pipe, buf, std::min<size_t>(avail, sizeof buf));
    if (n <= 0) break;
    if (!PeekPipe(pipe, avail)) break;
  }
  return true;
}

// Hands the address to the main window. False when the tunnel was stopped
// meanwhile (nothing posted).
bool Publish(HWND hwnd, const std::string& address, WPARAM ok) {
  if (!g_tunRunning.load()) return false;
  g_tunReady.store(true);
  char* heap = NewTunnelAddress(address);
  if (!PostMarked(hwnd, WM_TUNNEL_READY, ok, reinterpret_cast<LPARAM>(heap)))
    FreeTunnelAddress(heap);
  return true;
}

// Probes the address until it answers 200 or 15 s have passed, draining the
// client's output meanwhile, then publishes. False when the thread must end.
bool ProbeAndPublish(HWND hwnd, PipeHandle pipe, const std::string& address) {
  PostMarked(hwnd, WM_TUNNEL_FOUND, 0, 0);
  const auto probeStart = std::chrono::steady_clock::now();
  const std::wstring probeUrl = Utf8ToWstr(address + kHealthPath);
  while (g_tunRunning.load()) {
    if (!Drain(pipe)) {
      PostFailedIfRunning(hwnd);
      return false;
    }
    if (ProbeOnce(probeUrl)) return Publish(hwnd, address, 1);
    if (ElapsedNs(probeStart) > kProbeLimitNs) return Publish(hwnd, address, 0);
    std::this_thread::sleep_for(kProbePause);
  }
  return false;
}

}  // namespace

void TunnelReaderProc(HWND hwnd) {
  const PipeHandle pipe = g_tunStdoutRead.get();
  const auto start = std::chrono::steady_clock::now();
  std::string line;
  line.reserve(kMaxLineBytes);
  bool found = false;
  char buf[kReadChunk];

  while (g_tunRunning.load()) {
    if (!found && ElapsedNs(start) > kAddressLimitNs) {
      PostMarked(hwnd, WM_TUNNEL_FAILED, 0, 0);
      return;
    }
    uint32_t avail = 0;
    if (!PeekPipe(pipe, avail)) {
      PostFailedIfRunning(hwnd);
      return;
    }
    if (avail == 0) {
      std::this_thread::sleep_for(kIdlePause);
      continue;
    }
    const int64_t n = ReadPipe(pipe, buf, std::min<size_t>(avail, sizeof buf));
    if (n <= 0) {
      PostFailedIfRunning(hwnd);
      return;
    }
    if (found) continue;  // published already: output is only drained

    std::string address;
    for (int64_t i = 0; i < n; ++i) {
      const char c = buf[i];
      if (c == '\r' || c == '\n') {
        if (!line.empty()) address = ExtractTunnelURL(line);
        line.clear();
        if (!address.empty()) break;  // the rest of this read is not examined
      } else if (line.size() < kMaxLineBytes) {
        line.push_back(c);
      }
    }
    if (!address.empty()) {
      if (!ProbeAndPublish(hwnd, pipe, address)) return;
      found = true;
    }
  }
}

char* NewTunnelAddress(const std::string& address) {
  char* heap = new (std::nothrow) char[address.size() + 1];
  if (heap) std::memcpy(heap, address.c_str(), address.size() + 1);
  return heap;
}

void FreeTunnelAddress(char* address) { delete[] address; }

void MarkTunnelMessage(UINT msg, LPARAM lParam) {
  std::lock_guard<std::mutex> lock(g_pendingMtx);
  g_pending.emplace_back(msg, lParam);
}

bool ClaimTunnelMessage(UINT msg, LPARAM lParam) {
  std::lock_guard<std::mutex> lock(g_pendingMtx);
  for (auto it = g_pending.begin(); it != g_pending.end(); ++it) {
    if (it->first == msg && it->second == lParam) {
      g_pending.erase(it);
      return true;
    }
  }
  return false;
}

TunnelProbeFn SetTunnelProbeForTest(TunnelProbeFn fn) { return g_probeForTest.exchange(fn); }
