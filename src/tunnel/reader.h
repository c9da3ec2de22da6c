// The tunnel reader thread: finds the public address in the tunnel client's
// merged output, probes the program's health path through it, and reports to
// the main window with posted messages:
//   WM_TUNNEL_FOUND  (0, 0)          an address was found, probing begins
//   WM_TUNNEL_READY  (ok, address)   publish; ok is 1 when the probe got 200,
//                                    0 when probing gave up after 15 s
//   WM_TUNNEL_FAILED (0, 0)          no address within 60 s, or the output ended
// The address of WM_TUNNEL_READY is a NUL-terminated UTF-8 string from
// NewTunnelAddress. The receiver owns it and frees it with FreeTunnelAddress
// (OnTunnelReady does); when posting fails the reader frees it itself. Each
// message is marked as the reader's (MarkTunnelMessage below).
#pragma once

#include <string>

#include "platform/types.h"
#include "tunnel/address.h"

// Thread body, one per client start. Reads g_tunStdoutRead and g_tunRunning,
// sets g_tunReady just before posting WM_TUNNEL_READY to hwnd. Ends silently
// once g_tunRunning is false; never blocks in a read (it peeks first), so a
// join waits at most one 100 ms pause, one 800 ms pause or one probe attempt.
void TunnelReaderProc(HWND hwnd);

// The heap copy of an address handed over with WM_TUNNEL_READY; null when
// memory ran out (read as empty by the receiver).
char* NewTunnelAddress(const std::string& address);
// Frees what NewTunnelAddress made; null is allowed.
void FreeTunnelAddress(char* address);

// The reader marks each message it posts (WM_TUNNEL_FOUND and _FAILED with
// lParam 0, WM_TUNNEL_READY with its address) just before posting it. The
// handlers act only on a message whose mark they can clear: anything else was
// posted by another program and is ignored (its lParam never touched). Tests
// that play the reader mark what they hand to a handler.
void MarkTunnelMessage(UINT msg, LPARAM lParam);
// Clears one mark of (msg, lParam); false when there is none.
bool ClaimTunnelMessage(UINT msg, LPARAM lParam);

// Tests replace the one-attempt HTTPS probe (ProbeHttpsStatus200 otherwise);
// returns the previous replacement. nullptr restores the real probe.
using TunnelProbeFn = bool (*)(const std::wstring& url);
TunnelProbeFn SetTunnelProbeForTest(TunnelProbeFn fn);
