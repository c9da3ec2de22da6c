#include "share_session.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/app_messages.h"
#include "core/archive.h"
#include "core/registry.h"
#include "core/share.h"
#include "core/shell.h"
#include "crypto/identity.h"
#include "http/listener.h"
#include "platform/fs.h"
#include "platform/message.h"
#include "platform/net.h"
#include "platform/text.h"
#include "term_os.h"
#include "terminal_shell.h"
#include "terminal_view.h"
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
// views; a table held back by the once-a-second rule is printed when due.
void MessageLoop() {
  while (!StopRequested()) {
    AppMessage m;
    const unsigned waitMs = FlushHostedTable(false, kLoopWaitMs);
    if (!WaitAppMessage(m, waitMs < kLoopWaitMs ? waitMs : kLoopWaitMs)) continue;
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

// The command line's paths as the window would receive them. A path that
// cannot be shared is named on standard error with the reason; one whose name
// is not valid UTF-8 is refused (it would reach the system with replacement
// characters) and handed on as an empty path, which names nothing, so that an
// all-refused batch still gets the usual message.
std::vector<std::wstring> CheckedPaths(const std::vector<std::string>& args) {
  std::vector<std::wstring> paths;
  for (const std::string& arg : args) {
    if (!IsValidUtf8(arg)) {
      PrintSkippedPath(arg, "the name is not valid UTF-8");
      paths.emplace_back();
      continue;
    }
    const std::wstring path = Utf8ToWstr(AbsoluteSharePath(arg));
    bool isFolder = false;
    errno = 0;
    if (!ReadPathKind(path, isFolder)) {
      const int e = errno;
      PrintSkippedPath(arg, arg.empty() ? "the path is empty" : e ? std::strerror(e) : "it cannot be read");
    }
    paths.push_back(path);
  }
  return paths;
}

// On the signal thread: a folder compression under way ends at once.
void OnStopSignal() { SetCompressionCancelled(true); }

}  // namespace

int RunShare(const ShareOptions& options) {
  g_hMain = CreateMessageWindow();
  // Before any other thread starts: the signals then reach the waiter only.
  StartStopSignalWaiter(g_hMain, kWmStopRequested, OnStopSignal);
  g_reportLeftOutLink = PrintLeftOutLink;
  g_terminalColour = StdoutIsColourTerminal();
  NetStartup();
  SetServerNotice(SetStatus);
  vh::IdentityStore::RestoreSetAsideKey();  // as the window's start-up
  vh::IdentityStore::Init();  // as the window's start-up; sharing does not depend on it

  OnPathsSelected(CheckedPaths(options.paths));

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
  if (added > 0 && !StopRequested()) {
    RefreshListView(g_hMain);
    ShowLatestLink(g_hMain);
    const std::shared_ptr<HostedItem> latest = LatestHosted();
    if (latest && !latest->url.empty()) CopyTextToClipboard(Utf8ToWstr(latest->url));
    MessageLoop();
    FlushHostedTable(true, 0);  // the last downloads, if still held back
  }
  // A stop signal ends the program normally, also when it came while a
  // folder was still being compressed and so nothing was shared.
  const bool stopped = added > 0 || StopRequested();
  RemoveAll();
  DrainMessages();
  ReleaseArchiveFolder();
  if (stopped) {
    SetStatus(L"All sharing stopped.");
    exitCode = 0;
  }
  EndStopSignalWaiter();
  DestroyMessageWindow(g_hMain);
  return exitCode;
}
