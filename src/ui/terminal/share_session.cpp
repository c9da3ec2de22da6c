#include "share_session.h"

#include <memory>
#include <string>
#include <vector>

#include "core/app_messages.h"
#include "core/registry.h"
#include "core/share.h"
#include "core/shell.h"
#include "crypto/identity.h"
#include "http/listener.h"
#include "platform/message.h"
#include "platform/net.h"
#include "platform/text.h"
#include "term_os.h"
#include "terminal_shell.h"
#include "tunnel/supervisor.h"

namespace {

// Posted by the signal waiter to wake the loop (WM_APP + 1).
constexpr UINT kWmStopRequested = 0x8001;
// How long one wait for a message lasts; the stop request is looked at
// between waits as well.
constexpr unsigned kLoopWaitMs = 250;

constexpr const wchar_t* kCustomLinkSingleOnly =
    L"Custom link can only be set when sharing a single item.\nClear the custom link to share "
    L"multiple items at once.";

// Shares the staged paths as the window's Start Sharing does; the number of
// items created.
int ShareStaged(int mode, const std::string& custom) {
  std::vector<std::wstring> paths;
  paths.swap(g_pendingPaths);
  const std::string slugForEach = paths.size() == 1 ? custom : std::string();
  int added = 0;
  for (const std::wstring& p : paths) {
    if (StopRequested()) break;  // Ctrl-C while an earlier path was compressed
    if (AddPath(p, mode, slugForEach, g_hMain)) ++added;
  }
  return added;
}

// Serves until a stop signal: tunnel reports and ended downloads update the
// views.
void MessageLoop() {
  while (!StopRequested()) {
    AppMessage m;
    if (!WaitAppMessage(m, kLoopWaitMs)) continue;
    switch (m.msg) {
      case WM_TUNNEL_FOUND: OnTunnelFound(g_hMain); break;
      case WM_TUNNEL_READY: OnTunnelReady(g_hMain, m.wParam, m.lParam); break;
      case WM_TUNNEL_FAILED: OnTunnelFailed(g_hMain); break;
      case WM_DOWNLOAD_DONE: RefreshListView(g_hMain); break;
      default: break;
    }
  }
}

// Stops every share and the services behind them.
void RemoveAll() {
  ClearHosted();
  StopTunnel();
  StopServer();
}

// Messages still queued once everything stopped: an address posted before the
// reader was joined is dropped and freed (the tunnel no longer runs); nothing
// else may start anything again.
void DrainMessages() {
  AppMessage m;
  while (WaitAppMessage(m, 0)) {
    if (m.msg == WM_TUNNEL_READY) OnTunnelReady(g_hMain, m.wParam, m.lParam);
  }
}

}  // namespace

int RunShare(const ShareOptions& options) {
  g_hMain = CreateMessageWindow();
  // Before any other thread starts: the signals then reach the waiter only.
  StartStopSignalWaiter(g_hMain, kWmStopRequested);
  g_terminalColour = StdoutIsColourTerminal();
  NetStartup();
  vh::IdentityStore::RestoreSetAsideKey();  // as the window's start-up
  vh::IdentityStore::Init();  // as the window's start-up; sharing does not depend on it

  std::vector<std::wstring> paths;
  for (const std::string& p : options.paths) paths.push_back(Utf8ToWstr(AbsoluteSharePath(p)));
  OnPathsSelected(paths);

  int added = 0;
  const std::string custom = TrimSpacesTabs(options.customLink);
  if (g_pendingPaths.empty()) {
    // refused at selection; the message is out already
  } else if (!custom.empty() && g_pendingPaths.size() > 1) {
    ShellMessageBox(g_hMain, kCustomLinkSingleOnly, kCaption, kMbOk | kMbIconWarning);
  } else {
    added = ShareStaged(options.mode, custom);
  }

  int exitCode = 1;
  if (added > 0) {
    RefreshListView(g_hMain);
    ShowLatestLink(g_hMain);
    const std::shared_ptr<HostedItem> latest = LatestHosted();
    if (latest && !latest->url.empty()) CopyTextToClipboard(Utf8ToWstr(latest->url));
    MessageLoop();
    exitCode = 0;
  }
  RemoveAll();
  DrainMessages();
  if (added > 0) SetStatus(L"All sharing stopped.");
  EndStopSignalWaiter();
  DestroyMessageWindow(g_hMain);
  return exitCode;
}
