#include "share_session.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/events.h"
#include "core/registry.h"
#include "crypto/identity.h"
#include "platform/fs.h"
#include "platform/message.h"
#include "platform/net.h"
#include "platform/text.h"
#include "sharing/archive.h"  // ReleaseArchiveFolder
#include "sharing/session.h"
#include "sharing/share.h"
#include "sharing/shell.h"
#include "term_os.h"
#include "terminal_shell.h"
#include "terminal_view.h"

namespace {

// Posted by the signal waiter to wake the loop (WM_APP + 1).
constexpr UINT kWmStopRequested = 0x8001;
// How long one wait for a message lasts; the stop request is looked at
// between waits as well.
constexpr unsigned kLoopWaitMs = 250;

// Serves until a stop signal: tunnel reports and ended downloads update the
// views; a table held back by the once-a-second rule is printed when due.
void MessageLoop() {
  while (!StopRequested()) {
    AppMessage m;
    const unsigned waitMs = FlushHostedTable(false, kLoopWaitMs);
    if (!WaitAppMessage(m, waitMs < kLoopWaitMs ? waitMs : kLoopWaitMs)) continue;
    if (m.msg == WM_APP_EVENTS) HandleSharingEvents(g_hMain);
  }
}

// Events still queued once everything stopped (an address pushed before the
// reader was joined, ended downloads) are dropped: nothing may start anything
// again.
void DrainEvents() {
  for (AppEvent event; PopEvent(event);) continue;
}

// The command line's paths as the window would receive them. A path that
// cannot be shared is named on standard error with the reason; one whose name
// is not valid UTF-8 is refused (it would reach the system with replacement
// characters) and handed on as an empty path, which names nothing, so that an
// all-refused batch still gets the usual message. So is a FIFO, socket or
// device, which holds nothing to download.
std::vector<std::wstring> CheckedPaths(const std::vector<std::string>& args) {
  std::vector<std::wstring> paths;
  for (const std::string& arg : args) {
    if (!IsValidUtf8(arg)) {
      PrintSkippedPath(arg, "the name is not valid UTF-8");
      paths.emplace_back();
      continue;
    }
    const std::string absolute = AbsoluteSharePath(arg);
    SkipReason special = SkipReason::kDevice;
    if (IsSpecialFile(absolute, special)) {
      PrintSkippedPath(arg, SkipReasonText(special, 0));
      paths.emplace_back();
      continue;
    }
    const std::wstring path = Utf8ToWstr(absolute);
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
  SweepLeftArchives();  // what an earlier run left behind; archives of running instances stay
  g_terminalColour = StdoutIsColourTerminal();
  g_stderrTerminal = StderrIsTerminal();
  NetStartup();
  vh::IdentityStore::RestoreSetAsideKey();  // as the window's start-up
  vh::IdentityStore::Init();  // as the window's start-up; sharing does not depend on it

  OnPathsSelected(CheckedPaths(options.paths));

  // Nothing staged (refused at selection) or refused here: the message is out.
  const int added = StartSharing(options.mode, options.customLink, StopRequested);

  int exitCode = 1;
  if (added > 0 && !StopRequested()) {
    RefreshListView(g_hMain);
    ShowNewestShare(g_hMain);
    MessageLoop();
    FlushHostedTable(true, 0);  // the last downloads, if still held back
  }
  // A stop signal ends the program normally, also when it came while a
  // folder was still being compressed and so nothing was shared.
  const bool stopped = added > 0 || StopRequested();
  StopEverything();
  DrainEvents();
  ReleaseArchiveFolder();
  if (stopped) {
    ShellNote(StatusNote::kAllStopped);
    exitCode = 0;
  }
  EndStopSignalWaiter();
  DestroyMessageWindow(g_hMain);
  return exitCode;
}
