#include "sharing/session.h"

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "core/events.h"
#include "core/links.h"
#include "core/registry.h"
#include "http/listener.h"
#include "platform/text.h"
#include "sharing/share.h"
#include "sharing/shell.h"
#include "text/slug.h"
#include "tunnel/client.h"
#include "tunnel/supervisor.h"

namespace {

const wchar_t kCustomLinkSingleOnly[] =
    L"Custom link can only be set when sharing a single item.\nClear the custom link to share "
    L"multiple items at once.";

}  // namespace

int StartSharing(ShareMode mode, const std::string& typedLink, bool (*stopRequested)()) {
  if (StagedPaths().empty()) return -1;
  const std::string custom = TrimSpacesTabs(typedLink);
  if (!custom.empty() && StagedPaths().size() > 1) {
    ShellMessageBox(g_hMain, kCustomLinkSingleOnly, kCaption, kMbOk | kMbIconWarning);
    return -1;
  }
  const std::vector<std::wstring> paths = TakeStagedPaths();
  const std::string slugForEach = paths.size() == 1 ? custom : std::string();
  int added = 0;
  for (const std::wstring& p : paths) {
    if (stopRequested && stopRequested()) break;  // a stop while an earlier path was compressed
    if (AddPath(p, mode, slugForEach, g_hMain)) ++added;
  }
  return added;
}

void ShowNewestShare(HWND hwnd) {
  // The newest item as the list shows it: an Internet item still waiting for
  // the tunnel empties the latest-link views until publication fills them in,
  // rather than leaving the previous item's link up.
  ShowLatestLink(hwnd);
  const std::string url = LatestHostedUrl();
  if (!url.empty()) CopyTextToClipboard(Utf8ToWstr(url));
}

void StopSelected(HWND hwnd, int row) {
  if (row < 0) {
    ShellNote(StatusNote::kSelectRowFirst);
    return;
  }
  std::shared_ptr<HostedItem> removed;
  int internetLeft = 0;
  if (!RemoveHostedAt(static_cast<size_t>(row), removed, internetLeft)) return;
  const bool empty = HostedCount() == 0;
  if (internetLeft == 0) StopTunnel();
  if (empty)
    StopServer();
  else
    SetListenAllInterfaces(AnyHostedInMode(ShareMode::kLan));
  RefreshListView(hwnd);
  ShowLatestLink(hwnd);
  if (empty) ShellNote(StatusNote::kSharingStopped);
  removed.reset();  // the file closes (and an archive goes) after the views moved on
}

void StopEverything() {
  ClearHosted();
  StopServices();
}

void StopServices() {
  StopTunnel();
  StopServer();
}

bool TunnelClientPresent() { return CloudflaredPresent(GetCloudflaredPath()); }

void EndAllSharing(HWND hwnd) {
  StopEverything();
  RefreshListView(hwnd);
  ShowLatestLink(hwnd);
  ShellNote(StatusNote::kAllStopped);
}

void StopAll(HWND hwnd) {
  if (HostedCount() == 0) {
    ShellNote(StatusNote::kNothingToStop);
    return;
  }
  if (ShellMessageBox(hwnd, L"Stop sharing all hosted files?", kCaption,
                      kMbYesNo | kMbIconQuestion | kMbDefButton2) == kIdYes) {
    EndAllSharing(hwnd);
  }
}

bool ConfirmCloseWhileSharing(HWND hwnd) {
  if (HostedCount() == 0) return true;
  if (ShellMessageBox(hwnd, L"You are currently hosting files.\n\nStop sharing and exit?", kCaption,
                      kMbYesNo | kMbIconQuestion | kMbDefButton2) != kIdYes) {
    return false;
  }
  EndAllSharing(hwnd);
  return true;
}

void OnTunnelFound(HWND, const AppEvent& event) {
  if (TakeTunnelFound(event)) ShellNote(StatusNote::kTunnelFound);
}

void OnTunnelReady(HWND hwnd, const AppEvent& event) {
  if (!TakeTunnelAddress(event)) return;
  WithHostedLocked([&event](HostedLock& lock) {
    SetTunnelHost_locked(lock, event.address);
    ForEachHosted_locked(lock, [&lock](HostedItem& item) { BuildItemUrl_locked(lock, item); });
  });
  RefreshListView(hwnd);
  ShowLatestLink(hwnd);
  const std::string url = LatestHostedUrl();
  if (url.empty()) return;
  CopyTextToClipboard(Utf8ToWstr(url));
  ShellNote(event.probeOk ? StatusNote::kLinkReady : StatusNote::kLinkReadyUnprobed);
}

void OnTunnelFailed(HWND hwnd, const AppEvent& event) {
  if (!TakeTunnelFailure(event)) return;
  if (AnyHostedInMode(ShareMode::kInternet) && UseTunnelRestart()) {
    ShellNote(StatusNote::kTunnelDropped);
    if (StartTunnelIfNeeded(hwnd)) return;
  }
  // Give up on the tunnel: every Internet item becomes a same-network item.
  WithHostedLocked([](HostedLock& lock) {
    ForEachHosted_locked(lock, [&lock](HostedItem& item) {
      if (item.mode != ShareMode::kInternet) return;
      item.mode = ShareMode::kLan;
      BuildItemUrl_locked(lock, item);
    });
  });
  if (ServerRunning()) SetListenAllInterfaces(AnyHostedInMode(ShareMode::kLan));
  RefreshListView(hwnd);
  ShowLatestLink(hwnd);
  ShellNote(StatusNote::kTunnelGaveUp);
}

void OnSharingEvent(HWND hwnd, const AppEvent& event) {
  switch (event.kind) {
    case EventKind::kTunnelFound: OnTunnelFound(hwnd, event); return;
    case EventKind::kTunnelReady: OnTunnelReady(hwnd, event); return;
    case EventKind::kTunnelFailed: OnTunnelFailed(hwnd, event); return;
    case EventKind::kDownloadDone: RefreshListView(hwnd); return;
  }
}

void HandleSharingEvents(HWND hwnd) {
  for (AppEvent event; PopEvent(event);) OnSharingEvent(hwnd, event);
}
