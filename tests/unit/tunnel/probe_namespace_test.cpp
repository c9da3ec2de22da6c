// The probe's success path, run by probe_namespace_test.sh in a private
// network and mount namespace where foo-bar.trycloudflare.com is 127.0.0.1
// and a TLS server signed by the trusted test CA answers on port 443.
#include <gtest/gtest.h>

#include <cstdlib>

#include "core/app_messages.h"
#include "fake_tunnel.h"
#include "tunnel/supervisor.h"

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
  EXPECT_EQ(events[1].msg, WM_TUNNEL_READY);
  EXPECT_EQ(events[1].wParam, 1u) << "the probe did not get status 200";
  EXPECT_EQ(events[1].address, "https://foo-bar.trycloudflare.com");
}
