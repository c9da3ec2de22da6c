// The reader's real limits with the real probe: 15 s of probing, 60 s of silence.
#include <gtest/gtest.h>

#include "core/app_messages.h"
#include "fake_tunnel.h"
#include "platform/https_probe.h"
#include "tunnel/reader.h"

namespace {

// The real probe, aimed at 127.0.0.1 (no TLS on port 443) so it never leaves this machine.
bool ProbeLoopbackInstead(const std::wstring& url) {
  return ProbeHttpsStatus200(L"https://127.0.0.1" + url.substr(url.find(L'/', 8)));
}

TEST(ReaderSlow, UnreachableAddressIsPublishedAfter15Seconds) {
  SetTunnelProbeForTest(ProbeLoopbackInstead);
  const auto events =
      RunTunnelUntil("print INF |  https://vh-unreachable.trycloudflare.com  |\nhang\n", WM_TUNNEL_READY, 60000);
  SetTunnelProbeForTest(nullptr);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[1].msg + events[1].wParam, WM_TUNNEL_READY + 0u);  // published unprobed
  EXPECT_EQ(events[1].address, "https://vh-unreachable.trycloudflare.com");
  EXPECT_GE(events[1].atSeconds - events[0].atSeconds, 14.9);
}

TEST(ReaderSlow, SilentClientFailsAfter60Seconds) {
  const auto events = RunTunnelUntil("print INF Starting tunnel\nhang\n", WM_TUNNEL_FAILED, 90000);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].msg, WM_TUNNEL_FAILED);
  EXPECT_GE(events[0].atSeconds, 59.5);
}

}  // namespace
