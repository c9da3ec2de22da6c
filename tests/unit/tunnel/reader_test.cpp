// The reader thread against the fake client: messages, first address only,
// the 4096-byte line cap, the end of the output after publishing, a stop while
// probing. (A client ending at once: the supervisor's tests.)
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "core/app_messages.h"
#include "fake_tunnel.h"
#include "tunnel/reader.h"
#include "tunnel/supervisor.h"

namespace {

std::mutex g_probedMtx;
std::vector<std::wstring> g_probed;

bool ProbeOk(const std::wstring& url) {
  std::lock_guard<std::mutex> lock(g_probedMtx);
  g_probed.push_back(url);
  return true;
}

// The test plays the main window: messages are recorded, not handled.
class ReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DiscardTunnelMessages();
    g_probed.clear();
    hwnd_ = CreateMessageWindow();
  }
  void TearDown() override {
    StopTunnel();
    SetTunnelProbeForTest(nullptr);
    DiscardTunnelMessages();
    DestroyMessageWindow(hwnd_);
  }
  std::vector<TunnelEvent> Run(unsigned until) {
    EXPECT_TRUE(StartTunnelIfNeeded(hwnd_));
    return PumpTunnel(hwnd_, until, 10000, false);
  }
  std::vector<unsigned> Msgs(const std::vector<TunnelEvent>& events) {
    std::vector<unsigned> out;
    for (const auto& e : events) out.push_back(e.msg);
    return out;
  }
  HWND hwnd_ = nullptr;
};

TEST_F(ReaderTest, PublishesTheFirstAddressOnly) {
  SetTunnelProbeForTest(ProbeOk);
  FakeTunnel fake(
      "print ERR failed to request quick Tunnel: Post \"https://api.trycloudflare.com/tunnel\"\n"
      "sleep 300\nprintcr INF Requesting new quick Tunnel...\nprintcr \nprint \n"
      "eprint INF |  https://first-one.trycloudflare.com  |\n"
      "print INF |  https://second-one.trycloudflare.com  |\nsleep 300\n"
      "print INF |  https://third-one.trycloudflare.com  |\nhang\n");
  const auto events = Run(WM_TUNNEL_READY);
  ASSERT_EQ(Msgs(events), (std::vector<unsigned>{WM_TUNNEL_FOUND, WM_TUNNEL_READY}));
  EXPECT_EQ(events[1].wParam, 1u);
  EXPECT_EQ(events[1].address, "https://first-one.trycloudflare.com");
  EXPECT_TRUE(g_tunReady.load());
  EXPECT_TRUE(PumpTunnel(hwnd_, 0, 1500, false).empty());  // later addresses change nothing
  std::lock_guard<std::mutex> lock(g_probedMtx);
  EXPECT_EQ(g_probed, std::vector<std::wstring>{L"https://first-one.trycloudflare.com/__vhhealth"});
}

TEST_F(ReaderTest, LongLineIsExaminedOnItsFirst4096Bytes) {
  SetTunnelProbeForTest(ProbeOk);
  // 5000-byte lines: an address cut at byte 4096 does not count, one before it does.
  FakeTunnel fake("pad 4080 890 https://cut-off.trycloudflare.com |\n"
                  "print INF | https://after-long.trycloudflare.com |\nhang\n");
  auto events = Run(WM_TUNNEL_READY);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[1].address, "https://after-long.trycloudflare.com");
  StopTunnel();
  DiscardTunnelMessages();
  fake.SetScript("pad 4000 966 | https://in-reach.trycloudflare.com |\nhang\n");
  events = Run(WM_TUNNEL_READY);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[1].address, "https://in-reach.trycloudflare.com");
}

TEST_F(ReaderTest, ClientEndingAfterPublishFails) {
  SetTunnelProbeForTest(ProbeOk);
  FakeTunnel fake("print INF | https://short-lived.trycloudflare.com |\nsleep 500\nexit 0\n");
  EXPECT_EQ(Msgs(Run(WM_TUNNEL_FAILED)),
            (std::vector<unsigned>{WM_TUNNEL_FOUND, WM_TUNNEL_READY, WM_TUNNEL_FAILED}));
}

TEST_F(ReaderTest, StoppedWhileProbingPostsNothingMore) {
  SetTunnelProbeForTest([](const std::wstring&) { return false; });
  FakeTunnel fake("print INF | https://never-up.trycloudflare.com |\nhang\n");
  ASSERT_EQ(Run(WM_TUNNEL_FOUND).size(), 1u);
  StopTunnel();
  EXPECT_TRUE(PumpTunnel(hwnd_, 0, 1000, false).empty());
}

}  // namespace
