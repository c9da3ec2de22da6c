// The tunnel reader thread: finds the public address in the tunnel client's
// merged output, probes the program's health path through it, and reports to
// the front end with events (core/events.h), each stamped with the
// generation of the tunnel start it belongs to:
//   kTunnelFound    an address was found, probing begins
//   kTunnelReady    publish the address; probeOk when the probe got 200,
//                   false when probing gave up after 15 s
//   kTunnelFailed   no address within 60 s, or the output ended
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/process.h"
#include "platform/types.h"
#include "tunnel/address.h"

// What the supervisor hands one reader thread. The flags and the pipe outlive
// the thread (the supervisor joins it before closing or resetting them).
struct TunnelReaderArgs {
  HWND wake = nullptr;                        // woken for every event pushed
  PipeHandle pipe = kInvalidPipe;             // the client's merged output
  uint32_t generation = 0;                    // stamped on every event
  const std::atomic<bool>* running = nullptr;  // the thread ends once false
  std::atomic<bool>* published = nullptr;      // set just before kTunnelReady
};

// Thread body, one per client start. Ends silently once *running is false;
// never blocks in a read (it peeks first), so a join waits at most one 100 ms
// pause, one 800 ms pause or one probe attempt.
void TunnelReaderProc(TunnelReaderArgs args);

// Tests replace the one-attempt HTTPS probe (ProbeHttpsStatus200 otherwise);
// returns the previous replacement. nullptr restores the real probe.
using TunnelProbeFn = bool (*)(const std::wstring& url);
TunnelProbeFn SetTunnelProbeForTest(TunnelProbeFn fn);
