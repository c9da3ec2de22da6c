// The life of the tunnel client: start, stop, restarts, and taking the
// reader's events. Everything here runs on the front end's thread, except the
// reader thread it starts; the client, its pipe, the reader and the flags are
// this file's own.
#pragma once

#include <cstdint>

#include "core/events.h"
#include "platform/types.h"

constexpr int32_t kTunnelRestarts = 3;         // restarts allowed per start for a new item
constexpr unsigned kTunnelStopWaitMs = 3000;   // wait for the forced end of the client

// Starts the client (if it is present) and its reader thread unless it runs;
// the reader's events wake `wake`. Each start has a new generation, stamped on
// its events. True when the client runs on return; false with everything closed.
bool StartTunnelIfNeeded(HWND wake);

// Ends the client, joins the reader, closes the pipe and forgets the public
// address (links stay until the next publish or fallback). Nothing unless
// running.
void StopTunnel();

// From a successful start until StopTunnel.
bool TunnelRunning();
// The running client's reader has published an address.
bool TunnelPublished();
// The generation of the latest start (0 before the first).
uint32_t TunnelGeneration();
// The running client's process id; 0 when none runs.
uint32_t TunnelClientPid();

// Automatic restarts after a failure: ArmTunnelRestarts allows
// kTunnelRestarts from now on; UseTunnelRestart takes one, false when none is left.
void ArmTunnelRestarts();
bool UseTunnelRestart();
int32_t TunnelRestartsLeft();

// Taking the reader's events. Each is true only for an event of its kind from
// the running client's reader, and false (doing nothing) for one of an
// earlier start, of a generation never handed out, or once the client was
// stopped (its last reports are stale then).
bool TakeTunnelFound(const AppEvent& event);
// kTunnelReady: the caller publishes event.address.
bool TakeTunnelAddress(const AppEvent& event);
// kTunnelFailed: the client is stopped.
bool TakeTunnelFailure(const AppEvent& event);
