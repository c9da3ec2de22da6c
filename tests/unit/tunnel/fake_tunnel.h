// Driving the fake tunnel client (tests/fakes/tunnel) from a test, and acting
// as the main window's message loop for the tunnel messages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "net_client.h"
#include "platform/message.h"
#include "test_util.h"

// A private folder for the fake's script and records, announced to every
// child started while it lives through VH_FAKE_TUNNEL_DIR.
class FakeTunnel {
 public:
  explicit FakeTunnel(const std::string& script = "hang\n");
  FakeTunnel(const FakeTunnel&) = delete;
  FakeTunnel& operator=(const FakeTunnel&) = delete;

  void SetScript(const std::string& script) const;
  std::vector<uint32_t> Pids() const;          // every start so far, oldest first
  std::string CommandLine() const;             // of the latest start
  const std::wstring& Folder() const { return dir_.path(); }

 private:
  TempDir dir_;
  ScopedEnv env_;
};

// The fake as it is installed next to the test binary (the client's name).
std::wstring FakeClientPath();

// Whether a process with this id still runs (a zombie counts as ended).
bool ProcessAlive(uint32_t pid);
// Waits up to timeoutMs for the process to end; true when it has.
bool WaitProcessGone(uint32_t pid, unsigned timeoutMs);

// One tunnel message as the main window received it. READY's string is
// copied into `address` and freed.
struct TunnelEvent {
  unsigned msg = 0;
  uintptr_t wParam = 0;
  std::string address;
  double atSeconds = 0;  // since the pump started
};

// Takes tunnel messages for hwnd until `until` has been seen or timeoutMs has
// passed. With handle, each message goes to OnTunnelFound / OnTunnelReady /
// OnTunnelFailed as the main window would do (READY's string is then the
// handler's to free); the event is recorded first.
std::vector<TunnelEvent> PumpTunnel(HWND hwnd, unsigned until, unsigned timeoutMs, bool handle);

// Drops (and frees) whatever tunnel messages are still queued.
void DiscardTunnelMessages();
