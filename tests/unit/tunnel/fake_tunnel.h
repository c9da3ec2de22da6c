// Driving the fake tunnel client and playing the main window's loop for the tunnel messages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "net_client.h"
#include "platform/message.h"
#include "platform/process.h"
#include "platform/text.h"
#include "test_util.h"

// The fake's script and records, in a folder announced to children through VH_FAKE_TUNNEL_DIR.
class FakeTunnel {
 public:
  explicit FakeTunnel(const std::string& script = "hang\n") : env_("VH_FAKE_TUNNEL_DIR", WstrToUtf8(dir_.path())) {
    SetScript(script);
  }
  void SetScript(const std::string& script) const { dir_.Write(L"script.txt", script); }
  std::vector<uint32_t> Pids() const;  // every start so far, oldest first
  const std::wstring& Folder() const { return dir_.path(); }

 private:
  TempDir dir_;
  ScopedEnv env_;
};

// A child's output until it ends, 30 s pass, or (lineOnly) a line is complete.
std::string ReadChildOutput(PipeHandle pipe, bool lineOnly = false);
bool WaitProcessGone(uint32_t pid, unsigned timeoutMs);  // a zombie counts as gone

struct TunnelEvent {  // one tunnel message as the main window received it (READY's string copied)
  unsigned msg = 0;
  uintptr_t wParam = 0;
  std::string address;
};
// Tunnel messages until `until` or timeoutMs, recorded, then handled or (!handle) dropped.
std::vector<TunnelEvent> PumpTunnel(HWND hwnd, unsigned until, unsigned timeoutMs, bool handle);
void DiscardTunnelMessages();  // drops (and frees) what is still queued
