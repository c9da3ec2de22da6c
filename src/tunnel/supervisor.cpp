#include "tunnel/supervisor.h"

#include <atomic>
#include <string>
#include <thread>
#include <utility>

#include "core/links.h"
#include "core/registry.h"
#include "platform/process.h"
#include "tunnel/client.h"
#include "tunnel/reader.h"

namespace {
// Written on the front end's thread only, unless stated otherwise.
ChildProcess g_client;               // the running client; invalid when none
ScopedPipe g_clientOutput;           // read end of its output; read only by the reader
std::thread g_reader;                // runs TunnelReaderProc for the current start
std::atomic<bool> g_running{false};  // read by the reader: it ends once false
std::atomic<bool> g_published{false};  // set by the reader just before kTunnelReady
uint32_t g_generation = 0;           // the latest start's generation
int32_t g_restartsLeft = 0;          // automatic restarts still allowed

// Ends the client, if one runs, and waits a bounded time for its end.
void EndClient() {
  if (!g_client.valid()) return;
  TerminateChild(g_client);
  WaitChild(g_client, kTunnelStopWaitMs);
  g_client.reset();
}

// An event of the running client's reader (generations start at 1). Once the
// client is stopped its reader's last events are stale.
bool OfRunningStart(const AppEvent& event, EventKind kind) {
  return event.kind == kind && g_generation != 0 && event.generation == g_generation &&
         g_running.load();
}
}  // namespace

bool StartTunnelIfNeeded(HWND wake) {
  if (g_running.load()) return true;
  const std::wstring path = GetCloudflaredPath();
  if (!CloudflaredPresent(path)) return false;

  ChildProcess proc;
  ScopedPipe readEnd;
  if (StartHiddenProcess(CloudflaredArguments(path, ServerPort()), proc, &readEnd) != ChildStart::kStarted)
    return false;
  AssignChildToJob(proc);  // no job, or a failed assignment: StopTunnel still ends it

  g_client = std::move(proc);
  g_clientOutput = std::move(readEnd);
  g_running.store(true);
  g_published.store(false);
  const TunnelReaderArgs args{wake, g_clientOutput.get(), ++g_generation, &g_running, &g_published};
  try {
    g_reader = std::thread(TunnelReaderProc, args);
  } catch (...) {
    // No reader: nobody would ever report on this client, so do not keep it.
    g_running.store(false);
    EndClient();
    g_clientOutput.reset();
    return false;
  }
  return true;
}

void StopTunnel() {
  if (!g_running.exchange(false)) return;
  EndClient();
  // The pipe is closed only after the reader is gone, so it never reads a
  // closed handle.
  if (g_reader.joinable()) g_reader.join();
  g_clientOutput.reset();
  ClearTunnelHost();
}

bool TunnelRunning() { return g_running.load(); }
bool TunnelPublished() { return g_published.load(); }
uint32_t TunnelGeneration() { return g_generation; }
uint32_t TunnelClientPid() { return g_running.load() ? g_client.pid : 0; }

void ArmTunnelRestarts() { g_restartsLeft = kTunnelRestarts; }
bool UseTunnelRestart() {
  if (g_restartsLeft <= 0) return false;
  --g_restartsLeft;
  return true;
}
int32_t TunnelRestartsLeft() { return g_restartsLeft; }

bool TakeTunnelFound(const AppEvent& event) { return OfRunningStart(event, EventKind::kTunnelFound); }

bool TakeTunnelAddress(const AppEvent& event) { return OfRunningStart(event, EventKind::kTunnelReady); }

bool TakeTunnelFailure(const AppEvent& event) {
  if (!OfRunningStart(event, EventKind::kTunnelFailed)) return false;
  StopTunnel();
  return true;
}
