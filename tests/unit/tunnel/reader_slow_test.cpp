// The reader's real time limits with the real probe: 15 s of probing before an
// unreachable address is published anyway, 60 s for a silent client.
#include <gtest/gtest.h>

#include "core/app_messages.h"
#include "fake_tunnel.h"
#include "platform/https_probe.h"
#include "tunnel/reader.h"
#include "tunnel/supervisor.h"

namespace {

class ReaderSlowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DiscardTunnelMessages();
    hwnd_ = CreateMessageWindow();
  }
  void TearDown() override {
    StopTunnel();
    DiscardTunnelMessages();
    DestroyMessageWindow(hwnd_);
  }
  HWND hwnd_ = nullptr;
};

// The real probe, aimed at 127.0.0.1 instead of the published host so that it
// never leaves this machine: nothing answers TLS on 127.0.0.1:443.
bool ProbeLoopbackInstead(const std::wstring& url) {
  const size_t path = url.find(L'/', 8);
  return ProbeHttpsStatus200(L"https://127.0.0.1" + (path == std::wstring::npos ? L"/" : url.substr(path)));
}

TEST_F(ReaderSlowTest, UnreachableAddressIsPublishedAfter15Seconds) {
  FakeTunnel fake("print INF |  https://vh-unreachable.trycloudflare.com  |\nhang\n");
  const TunnelProbeFn before = SetTunnelProbeForTest(ProbeLoopbackInstead);
  ASSERT_TRUE(StartTunnelIfNeeded(hwnd_));
  const auto events = PumpTunnel(hwnd_, WM_TUNNEL_READY, 60000, false);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].msg, WM_TUNNEL_FOUND);
  EXPECT_EQ(events[1].msg, WM_TUNNEL_READY);
  EXPECT_EQ(events[1].wParam, 0u);
  EXPECT_EQ(events[1].address, "https://vh-unreachable.trycloudflare.com");
  EXPECT_GE(events[1].atSeconds - events[0].atSeconds, 14.9);
  StopTunnel();
  SetTunnelProbeForTest(before);
  std::printf("probing gave up after %.1f s\n", events[1].atSeconds - events[0].atSeconds);
}

TEST_F(ReaderSlowTest, SilentClientFailsAfter60Seconds) {
  FakeTunnel fake("print INF Starting tunnel\nhang\n");
  ASSERT_TRUE(StartTunnelIfNeeded(hwnd_));
  const auto events = PumpTunnel(hwnd_, WM_TUNNEL_FAILED, 90000, false);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].msg, WM_TUNNEL_FAILED);
  EXPECT_GE(events[0].atSeconds, 59.5);
  std::printf("silent client failed after %.1f s\n", events[0].atSeconds);
}

}  // namespace
