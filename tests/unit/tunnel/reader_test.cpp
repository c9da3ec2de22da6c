// The tunnel output reader: address extraction, and the reader thread against
// the fake client (messages, limits, line cap, first address only).
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "core/app_messages.h"
#include "fake_tunnel.h"
#include "platform/text.h"
#include "tunnel/reader.h"
#include "tunnel/supervisor.h"

namespace {

TEST(ExtractTunnelURL, Table) {
  const struct {
    std::string line;
    std::string want;
  } cases[] = {
      {"INF | https://foo-bar.trycloudflare.com |", "https://foo-bar.trycloudflare.com"},
      {"2024-05-01T10:00:00Z INF |  https://a-b-c.trycloudflare.com                   |",
       "https://a-b-c.trycloudflare.com"},
      {"https://x.trycloudflare.com", "https://x.trycloudflare.com"},  // end of line
      {"see https://x.trycloudflare.com\tnext", "https://x.trycloudflare.com"},
      {"see https://x.trycloudflare.com\vnext", "https://x.trycloudflare.com"},
      {"see https://x.trycloudflare.com\fnext", "https://x.trycloudflare.com"},
      {"url=\"https://q.trycloudflare.com\" ok", "https://q.trycloudflare.com"},
      {"url='https://q.trycloudflare.com' ok", "https://q.trycloudflare.com"},
      {"https://p.trycloudflare.com|rest", "https://p.trycloudflare.com"},
      // Exactly one label before the suffix and nothing after it.
      {"https://x.trycloudflare.com/", ""},
      {"https://x.trycloudflare.com:8443/a?b", ""},
      {"https://trycloudflare.com.example.org", ""},
      {"https://127.0.0.1/trycloudflare.com", ""},
      {"https://a.b.trycloudflare.com", ""},
      {"https://.trycloudflare.com", ""},
      {"https://trycloudflare.com", ""},
      {"https://x_y.trycloudflare.com", ""},
      {"https://user@x.trycloudflare.com", ""},
      {"https://x.trycloudflare.comx", ""},
      {"https://Big-Host-9.trycloudflare.com", "https://Big-Host-9.trycloudflare.com"},
      // The service's own API address, which the client prints when it fails.
      {"ERR failed to request quick Tunnel: Post \"https://api.trycloudflare.com/tunnel\": "
       "dial tcp: lookup api.trycloudflare.com: no such host",
       ""},
      {"https://api.trycloudflare.com", ""},
      {"https://API.trycloudflare.com", ""},
      {"https://apis.trycloudflare.com", "https://apis.trycloudflare.com"},
      // Hosts without the suffix are not the tunnel.
      {"Visit https://www.cloudflare.com/ for help", ""},
      {"https://trycloudflare.org", ""},
      {"nothing here", ""},
      {"", ""},
      {"http://plain.trycloudflare.com", ""},
      {"HTTPS://upper.trycloudflare.com", ""},  // case-sensitive scheme
      // Only the first "https://" of a line is looked at.
      {"https://docs.example.com https://late.trycloudflare.com", ""},
      {"https://first.trycloudflare.com https://second.trycloudflare.com",
       "https://first.trycloudflare.com"},
      // The suffix must be inside the candidate, not later on the line.
      {"https://host.example trycloudflare.com", ""},
      {"https:// x.trycloudflare.com", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ExtractTunnelURL(c.line), c.want) << "line: " << c.line;
}

std::mutex g_probedMtx;
std::vector<std::wstring> g_probed;

bool ProbeAlwaysOk(const std::wstring& url) {
  std::lock_guard<std::mutex> lock(g_probedMtx);
  g_probed.push_back(url);
  return true;
}

// Starts the fake with a script and gives back the messages the reader posts,
// without the supervision handlers (the test plays the main window).
class ReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DiscardTunnelMessages();
    {
      std::lock_guard<std::mutex> lock(g_probedMtx);
      g_probed.clear();
    }
    hwnd_ = CreateMessageWindow();
  }
  void TearDown() override {
    StopTunnel();
    SetTunnelProbeForTest(nullptr);
    DiscardTunnelMessages();
    DestroyMessageWindow(hwnd_);
  }
  std::vector<TunnelEvent> Run(FakeTunnel& fake, unsigned until, unsigned timeoutMs) {
    EXPECT_TRUE(StartTunnelIfNeeded(hwnd_));
    return PumpTunnel(hwnd_, until, timeoutMs, false);
  }
  HWND hwnd_ = nullptr;
};

TEST_F(ReaderTest, ClientThatExitsFailsAtOnce) {
  FakeTunnel fake("print starting up\nexit 3\n");
  const auto events = Run(fake, WM_TUNNEL_FAILED, 10000);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].msg, WM_TUNNEL_FAILED);
  EXPECT_EQ(events[0].wParam, 0u);
}

TEST_F(ReaderTest, PublishesTheFirstAddressOnly) {
  SetTunnelProbeForTest(ProbeAlwaysOk);
  FakeTunnel fake(
      // The service's own address, printed when a request fails, is no link.
      "print ERR failed to request quick Tunnel: Post \"https://api.trycloudflare.com/tunnel\": "
      "dial tcp: i/o timeout\n"
      "sleep 300\n"
      "printcr INF Requesting new quick Tunnel...\n"
      "printcr \n"
      "print \n"
      "eprint INF |  https://first-one.trycloudflare.com  |\n"
      "print INF |  https://second-one.trycloudflare.com  |\n"
      "sleep 300\n"
      "print INF |  https://third-one.trycloudflare.com  |\n"
      "hang\n");
  auto events = Run(fake, WM_TUNNEL_READY, 10000);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].msg, WM_TUNNEL_FOUND);
  EXPECT_EQ(events[1].msg, WM_TUNNEL_READY);
  EXPECT_EQ(events[1].wParam, 1u);
  EXPECT_EQ(events[1].address, "https://first-one.trycloudflare.com");
  EXPECT_TRUE(g_tunReady.load());
  // Later addresses change nothing.
  events = PumpTunnel(hwnd_, 0, 1500, false);
  EXPECT_TRUE(events.empty());
  std::lock_guard<std::mutex> lock(g_probedMtx);
  ASSERT_EQ(g_probed.size(), 1u);
  EXPECT_EQ(g_probed[0], L"https://first-one.trycloudflare.com/__vhhealth");
}

TEST_F(ReaderTest, LongLineIsExaminedOnItsFirst4096Bytes) {
  SetTunnelProbeForTest(ProbeAlwaysOk);
  // 4080 + 30 + 890 = 5000 bytes: the address is cut at byte 4096.
  FakeTunnel fake(
      "pad 4080 890 https://cut-off.trycloudflare.com\n"
      "print INF | https://after-long.trycloudflare.com |\n"
      "hang\n");
  auto events = Run(fake, WM_TUNNEL_READY, 10000);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[1].address, "https://after-long.trycloudflare.com");
  StopTunnel();
  DiscardTunnelMessages();

  // Within the first 4096 bytes of a 5000-byte line the address counts.
  fake.SetScript("pad 4000 966 | https://in-reach.trycloudflare.com |\nhang\n");
  events = Run(fake, WM_TUNNEL_READY, 10000);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[1].address, "https://in-reach.trycloudflare.com");
}

TEST_F(ReaderTest, ClientEndingAfterPublishFails) {
  SetTunnelProbeForTest(ProbeAlwaysOk);
  FakeTunnel fake("print INF | https://short-lived.trycloudflare.com |\nsleep 500\nexit 0\n");
  const auto events = Run(fake, WM_TUNNEL_FAILED, 10000);
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].msg, WM_TUNNEL_FOUND);
  EXPECT_EQ(events[1].msg, WM_TUNNEL_READY);
  EXPECT_EQ(events[2].msg, WM_TUNNEL_FAILED);
}

TEST_F(ReaderTest, StoppedWhileProbingPostsNothingMore) {
  SetTunnelProbeForTest([](const std::wstring&) { return false; });
  FakeTunnel fake("print INF | https://never-up.trycloudflare.com |\nhang\n");
  auto events = Run(fake, WM_TUNNEL_FOUND, 10000);
  ASSERT_EQ(events.size(), 1u);
  StopTunnel();
  events = PumpTunnel(hwnd_, 0, 1000, false);
  EXPECT_TRUE(events.empty());
}

}  // namespace
