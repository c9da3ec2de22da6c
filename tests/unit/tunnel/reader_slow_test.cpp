// The reader's real limits with the real probe: 15 s of probing, 60 s of silence.
#include <gtest/gtest.h>

#include "core/app_messages.h"
#include "fake_tunnel.h"
#include "platform/https_probe.h"
#include "tunnel/reader.h"
#include "tunnel/supervisor.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The real probe, aimed at 127.0.0.1 (no TLS on port 443) so it never leaves this machine.
bool ProbeLoopbackInstead(const std::wstring& url) {
  return ProbeHttpsStatus200(L"https://127.0.0.1" + url.substr(url.find(L'/', 8)));
}

TEST(ReaderSlow, UnreachableAddressIsPublishedAfter15SecondsSilenceFailsAfter60) {
  SetTunnelProbeForTest(ProbeLoopbackInstead);
  const HWND hwnd = CreateMessageWindow();
  FakeTunnel fake("print INF |  https://vh-unreachable.trycloudflare.com  |\nhang\n");
  ASSERT_TRUE(StartTunnelIfNeeded(hwnd));
  ASSERT_EQ(PumpTunnel(hwnd, WM_TUNNEL_FOUND, 10000, false).size(), 1u);
  auto t0 = Clock::now();
  auto events = PumpTunnel(hwnd, WM_TUNNEL_READY, 60000, false);
  EXPECT_GE(Clock::now() - t0, 14900ms);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(std::to_string(events[0].msg == WM_TUNNEL_READY) + std::to_string(events[0].wParam) + events[0].address,
            "10https://vh-unreachable.trycloudflare.com");  // published unprobed
  StopTunnel();
  SetTunnelProbeForTest(nullptr);

  fake.SetScript("print INF Starting tunnel\nhang\n");
  t0 = Clock::now();
  ASSERT_TRUE(StartTunnelIfNeeded(hwnd));
  events = PumpTunnel(hwnd, WM_TUNNEL_FAILED, 90000, false);
  EXPECT_GE(Clock::now() - t0, 59500ms);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].msg, WM_TUNNEL_FAILED);
  StopTunnel();
  DiscardTunnelMessages();
  DestroyMessageWindow(hwnd);
}

}  // namespace
