#include "tunnel/reader.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <utility>

#include "core/events.h"
#include "platform/https_probe.h"
#include "platform/process.h"
#include "platform/text.h"

namespace {

constexpr size_t kReadChunk = 1024;        // bytes per pipe read at most
constexpr size_t kMaxLineBytes = 4096;     // bytes kept of one output line
constexpr auto kIdlePause = std::chrono::milliseconds(100);
constexpr auto kProbePause = std::chrono::milliseconds(800);
constexpr int64_t kAddressLimitNs = 59999999999;  // 60 s for the address to appear
constexpr int64_t kProbeLimitNs = 14999999999;    // 15 s of probing before publishing anyway

std::atomic<TunnelProbeFn> g_probeForTest{nullptr};

int64_t ElapsedNs(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() -
                                                              since)
      .count();
}

bool ProbeOnce(const std::wstring& url) {
  const TunnelProbeFn fn = g_probeForTest.load();
  return fn ? fn(url) : ProbeHttpsStatus200(url);
}

void Report(const TunnelReaderArgs& args, EventKind kind) {
  AppEvent event;
  event.kind = kind;
  event.generation = args.generation;
  PushEvent(args.wake, std::move(event));
}

void ReportFailedIfRunning(const TunnelReaderArgs& args) {
  if (args.running->load()) Report(args, EventKind::kTunnelFailed);
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

// Hands the address to the front end. False when the tunnel was stopped
// meanwhile (nothing pushed).
bool Publish(const TunnelReaderArgs& args, const std::string& address, bool probeOk) {
  if (!args.running->load()) return false;
  args.published->store(true);
  AppEvent event;
  event.kind = EventKind::kTunnelReady;
  event.generation = args.generation;
  event.probeOk = probeOk;
  event.address = address;
  PushEvent(args.wake, std::move(event));
  return true;
}

// Probes the address until it answers 200 or 15 s have passed, draining the
// client's output meanwhile, then publishes. False when the thread must end.
bool ProbeAndPublish(const TunnelReaderArgs& args, const std::string& address) {
  Report(args, EventKind::kTunnelFound);
  const auto probeStart = std::chrono::steady_clock::now();
  const std::wstring probeUrl = Utf8ToWstr(address + kHealthPath);
  while (args.running->load()) {
    if (!Drain(args.pipe)) {
      ReportFailedIfRunning(args);
      return false;
    }
    if (ProbeOnce(probeUrl)) return Publish(args, address, true);
    if (ElapsedNs(probeStart) > kProbeLimitNs) return Publish(args, address, false);
    std::this_thread::sleep_for(kProbePause);
  }
  return false;
}

}  // namespace

void TunnelReaderProc(TunnelReaderArgs args) {
  const PipeHandle pipe = args.pipe;
  const auto start = std::chrono::steady_clock::now();
  std::string line;
  line.reserve(kMaxLineBytes);
  bool found = false;
  char buf[kReadChunk];

  while (args.running->load()) {
    if (!found && ElapsedNs(start) > kAddressLimitNs) {
      Report(args, EventKind::kTunnelFailed);
      return;
    }
    uint32_t avail = 0;
    if (!PeekPipe(pipe, avail)) {
      ReportFailedIfRunning(args);
      return;
    }
    if (avail == 0) {
      std::this_thread::sleep_for(kIdlePause);
      continue;
    }
    const int64_t n = ReadPipe(pipe, buf, std::min<size_t>(avail, sizeof buf));
    if (n <= 0) {
      ReportFailedIfRunning(args);
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
      if (!ProbeAndPublish(args, address)) return;
      found = true;
    }
  }
}

TunnelProbeFn SetTunnelProbeForTest(TunnelProbeFn fn) { return g_probeForTest.exchange(fn); }
