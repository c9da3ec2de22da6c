// The probe's success path end to end: run by probe_namespace_test.sh inside
// a private network and mount namespace where foo-bar.trycloudflare.com is
// 127.0.0.1, a TLS server signed by a test CA answers on port 443, and that CA
// is the system's trust store. Skips itself anywhere else.
#include <gtest/gtest.h>

#include <cstdlib>

#include "core/app_messages.h"
#include "fake_tunnel.h"
#include "tunnel/reader.h"
#include "tunnel/supervisor.h"

namespace {

TEST(ProbeNamespace, ReachableAddressIsPublishedAsProbed) {
  if (!std::getenv("VH_PROBE_NAMESPACE")) GTEST_SKIP() << "needs probe_namespace_test.sh";
  DiscardTunnelMessages();
  const HWND hwnd = CreateMessageWindow();
  FakeTunnel fake("print INF |  https://foo-bar.trycloudflare.com  |\nhang\n");
  ASSERT_TRUE(StartTunnelIfNeeded(hwnd));
  const auto events = PumpTunnel(hwnd, WM_TUNNEL_READY, 30000, false);
  StopTunnel();
  DestroyMessageWindow(hwnd);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].msg, WM_TUNNEL_FOUND);
  EXPECT_EQ(events[1].msg, WM_TUNNEL_READY);
  EXPECT_EQ(events[1].wParam, 1u) << "the probe did not get status 200";
  EXPECT_EQ(events[1].address, "https://foo-bar.trycloudflare.com");
  std::printf("published %.2f s after the address was found\n",
              events[1].atSeconds - events[0].atSeconds);
}

}  // namespace
