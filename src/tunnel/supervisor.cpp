#include "tunnel/supervisor.h"

#include <memory>
#include <string>
#include <utility>

#include "core/app_messages.h"
#include "core/links.h"
#include "core/registry.h"
#include "core/shell.h"
#include "http/listener.h"
#include "platform/text.h"
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
  if (!StartHiddenProcess(CloudflaredCommandLine(path, g_port), proc, &readEnd)) return false;
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

void OnTunnelFound(HWND) {
  if (!ClaimTunnelMessage(WM_TUNNEL_FOUND, 0)) return;  // not the reader's
  SetStatus(L"Public link found. Checking it's reachable...");
}

void OnTunnelReady(HWND hwnd, WPARAM probeOk, LPARAM address) {
  // Only an address the reader handed out is read and freed; a stranger's
  // lParam (or a stranger's 0) is left alone.
  if (!ClaimTunnelMessage(WM_TUNNEL_READY, address)) return;
  std::unique_ptr<char, AddressDeleter> owned(reinterpret_cast<char*>(address));
  if (!g_tunRunning.load()) return;  // stopped meanwhile: the address is stale
  SetTunnelHostAndRelink(owned ? std::string(owned.get()) : std::string(), BuildItemUrl_locked);
  RefreshListView(hwnd);
  ShowLatestLink(hwnd);

  const std::string url = LatestHostedUrl();
  if (url.empty()) return;
  CopyTextToClipboard(Utf8ToWstr(url));
  SetStatus(probeOk != 0 ? L"Link ready and copied to clipboard."
                         : L"Link ready and copied. Allow a few seconds to come online.");
}

void OnTunnelFailed(HWND hwnd) {
  if (!ClaimTunnelMessage(WM_TUNNEL_FAILED, 0)) return;  // not the reader's
  if (g_tunRunning.load()) StopTunnel();

  if (AnyHostedInMode(0) && g_tunRetryLeft.load() > 0) {
    g_tunRetryLeft.fetch_sub(1);
    SetStatus(L"Tunnel dropped. Reconnecting...");
    if (StartTunnelIfNeeded(hwnd)) return;
  }

  // Give up on the tunnel: every Internet item becomes a same-network item.
  MoveInternetToLan(BuildItemUrl_locked);
  if (g_serverRunning.load()) RebindIfModeChanged();
  RefreshListView(hwnd);
  ShowLatestLink(hwnd);
  SetStatus(L"Tunnel unavailable. Using LAN links instead.");
}
