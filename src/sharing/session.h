// The sharing use cases the front ends offer: Start Sharing, Stop Selected,
// Stop All, and what the application messages (tunnel reports, ended
// downloads) do to the items and the views. The front ends read their
// controls, call these, and present nothing of their own beyond that.
// Everything here runs on the GUI thread.
#pragma once

#include <string>

#include "core/events.h"
#include "core/share_mode.h"
#include "platform/types.h"

// Start Sharing: shares every staged path in `mode`
// with the custom link as typed (trimmed here; only for a single path). -1
// when nothing was staged, or when a custom link came with several paths (a
// warning box; the selection stays staged); otherwise the selection is used
// up and the result is the number of items created. `stopRequested`, when
// given, is asked before each path.
int StartSharing(ShareMode mode, const std::string& typedLink, bool (*stopRequested)() = nullptr);

// After a Start Sharing that created items: the latest-link views show the
// newest item, and its link, if it has one yet, goes to the clipboard.
void ShowNewestShare(HWND hwnd);

// Stop Selected for list row `row` (-1: none selected).
void StopSelected(HWND hwnd, int row);

// Stop All: "Nothing to stop." when nothing is hosted, otherwise asks and,
// on Yes, ends every share (EndAllSharing).
void StopAll(HWND hwnd);
// Asks whether to stop sharing and exit; true when the window may close
// (nothing hosted, or Yes: every share ended).
bool ConfirmCloseWhileSharing(HWND hwnd);
// Ends every share, the tunnel and the server, updates the views and says
// "All sharing stopped."
void EndAllSharing(HWND hwnd);
// Ends every share, the tunnel and the server, and nothing else.
void StopEverything();
// Ends the tunnel and the server, if they run, and leaves the items.
void StopServices();
// Whether the tunnel client is where it is expected (tunnel/client.h).
bool TunnelClientPresent();

// The reader's events: each takes the event (tunnel/supervisor.h's
// TakeTunnel...; one of an earlier tunnel start is ignored), then updates the
// items and the views.
void OnTunnelFound(HWND hwnd, const AppEvent& event);
void OnTunnelReady(HWND hwnd, const AppEvent& event);
void OnTunnelFailed(HWND hwnd, const AppEvent& event);

// One event of core/events.h: the tunnel's three as above; an ended download
// refreshes the list.
void OnSharingEvent(HWND hwnd, const AppEvent& event);
// On WM_APP_EVENTS (and whenever the loop likes): every queued event, oldest
// first. An empty queue (a wake-up another program posted) does nothing.
void HandleSharingEvents(HWND hwnd);
