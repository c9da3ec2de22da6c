#include "tunnel/supervisor.h"

#include <memory>
#include <string>
#include <utility>

#include "core/app_messages.h"
#include "core/links.h"
#include "core/registry.h"
#include "tunnel/client.h"
#include "tunnel/reader.h"

ChildProcess g_tunProc;
ScopedPipe g_tunStdoutRead;
std::thread g_tunReader;
std::atomic<bool> g_tunRunning{false};
std::atomic<bool> g_tunReady{false};
std::atomic<int32_t> g_tunRetryLeft{0};

namespace {
// Owns the address string of one WM_TUNNEL_READY.
struct AddressDeleter {
  void operator()(char* p) const { FreeTunnelAddress(p); }
};
}  // namespace

bool StartTunnelIfNeeded(HWND hwnd) {
  if (g_tunRunning.load()) return true;
  const std::wstring path = GetCloudflaredPath();
  if (!CloudflaredPresent(path)) return false;

  ChildProcess proc;
  ScopedPipe readEnd;
  if (!StartHiddenProcess(CloudflaredArguments(path, g_port), proc, &readEnd)) return false;
  AssignChildToJob(proc);  // no job, or a failed assignment: StopTunnel still ends it

  g_tunProc = std::move(proc);
  g_tunStdoutRead = std::move(readEnd);
  g_tunRunning.exchange(true);
  g_tunReady.exchange(false);
  try {
    g_tunReader = std::thread(TunnelReaderProc, hwnd);
  } catch (...) {
    // No reader: nobody would ever report on this client, so do not keep it.
    g_tunRunning.exchange(false);
    TerminateChild(g_tunProc);
    WaitChild(g_tunProc, kTunnelStopWaitMs);
    g_tunProc.reset();
    g_tunStdoutRead.reset();
    return false;
  }
  return true;
}

void StopTunnel() {
  if (!g_tunRunning.exchange(false)) return;
  if (g_tunProc.valid()) {
    TerminateChild(g_tunProc);
    WaitChild(g_tunProc, kTunnelStopWaitMs);
    g_tunProc.reset();
  }
  // The pipe is closed only after the reader is gone, so it never reads a
  // closed handle.
  if (g_tunReader.joinable()) g_tunReader.join();
  g_tunStdoutRead.reset();
  ClearTunnelHost();
}

bool TakeTunnelFound() { return ClaimTunnelMessage(WM_TUNNEL_FOUND, 0); }

bool TakeTunnelAddress(LPARAM address, std::string& host) {
  // Only an address the reader handed out is read and freed; a stranger's
  // lParam (or a stranger's 0) is left alone.
  if (!ClaimTunnelMessage(WM_TUNNEL_READY, address)) return false;
  std::unique_ptr<char, AddressDeleter> owned(reinterpret_cast<char*>(address));
  if (!g_tunRunning.load()) return false;  // stopped meanwhile: the address is stale
  host = owned ? std::string(owned.get()) : std::string();
  return true;
}

bool TakeTunnelFailure() {
  if (!ClaimTunnelMessage(WM_TUNNEL_FAILED, 0)) return false;  // not the reader's
  if (g_tunRunning.load()) StopTunnel();
  return true;
}
