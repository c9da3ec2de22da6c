// The life of the tunnel client: start, stop, restart, and taking the
// reader's messages. Everything here runs on the GUI thread, except the reader
// thread it starts.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "platform/process.h"
#include "platform/types.h"

extern ChildProcess g_tunProc;           // the running client; invalid when none
extern ScopedPipe g_tunStdoutRead;       // read end of its output; read only by the reader
extern std::thread g_tunReader;          // runs TunnelReaderProc(main window)
extern std::atomic<bool> g_tunRunning;   // from a successful start until StopTunnel
extern std::atomic<bool> g_tunReady;     // the reader published an address (while running)
extern std::atomic<int32_t> g_tunRetryLeft;  // automatic restarts still allowed

constexpr int32_t kTunnelRestarts = 3;         // restarts allowed per start for a new item
constexpr unsigned kTunnelStopWaitMs = 3000;   // wait for the forced end of the client

// Starts the client (if it is present) and its reader thread unless it runs.
// True when the client runs on return; false with everything closed.
bool StartTunnelIfNeeded(HWND hwnd);

// Ends the client, joins the reader, closes the pipe and forgets the public
// address (links stay until the next publish or fallback). Nothing unless
// running.
void StopTunnel();

// Taking the reader's messages. Each acts only on a message the reader marked
// (ClaimTunnelMessage) and is false for anything else, its lParam untouched.
bool TakeTunnelFound();  // WM_TUNNEL_FOUND
// WM_TUNNEL_READY: frees the address and hands over its text ("" for none);
// false as well when the client stopped meanwhile (the address is stale).
bool TakeTunnelAddress(LPARAM address, std::string& host);
// WM_TUNNEL_FAILED: the client, if it still runs, is stopped first.
bool TakeTunnelFailure();
