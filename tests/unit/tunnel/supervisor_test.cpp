// The reader and the supervisor against the fake client.
#include <gtest/gtest.h>

#include "fake_tunnel.h"      // with the reader and the session
#include "http_test_util.h"   // HostItem
#include "recording_shell.h"  // with the listener and the supervisor

namespace {
const wchar_t kDropped[] = L"Tunnel dropped. Reconnecting...";
const wchar_t kUnavailable[] = L"Tunnel unavailable. Using LAN links instead.";
std::mutex g_probedMtx;
std::wstring g_probed;  // the last address probed
bool ProbeOk(const std::wstring& url) {
  std::lock_guard<std::mutex> lock(g_probedMtx);
  g_probed = url;
  return true;
}
// The public host, then each item's link and mode.
std::string State(const std::vector<std::shared_ptr<HostedItem>>& items) {
  std::lock_guard<std::mutex> lock(g_hostedMtx);
  std::string s = g_tunHost;
  for (const auto& item : items) s.append(" ").append(item->url).append(" ").append(std::to_string(item->mode));
  return s;
}
// An address as the reader hands it over: a heap copy (or null), marked.
LPARAM ReaderAddress(const char* text) {
  const LPARAM address = reinterpret_cast<LPARAM>(text ? NewTunnelAddress(text) : nullptr);
  MarkTunnelMessage(WM_TUNNEL_READY, address);
  return address;
}

class TunnelTest : public ShareTest {
 protected:
  void SetUp() override {
    ShareTest::SetUp(), DiscardTunnelMessages(), SetTunnelProbeForTest(ProbeOk);
    ASSERT_TRUE(StartServerIfNeeded(hwnd_));
  }
  void TearDown() override {
    StopTunnel(), DiscardTunnelMessages(), SetTunnelProbeForTest(nullptr), ShareTest::TearDown();
  }
  void Start() {  // as sharing a new Internet item does
    ASSERT_TRUE(StartTunnelIfNeeded(hwnd_));
    g_tunRetryLeft.store(kTunnelRestarts);
  }
  // The reader's messages as text ("F", "R<wParam><address>", "X"), recorded, not handled.
  std::string Read(unsigned until, unsigned timeoutMs = 10000) {
    std::string text;
    for (const auto& e : PumpTunnel(hwnd_, until, timeoutMs, false))
      text += e.msg == WM_TUNNEL_READY ? "R" + std::to_string(e.wParam) + e.address + " "
                                       : e.msg == WM_TUNNEL_FOUND ? "F " : "X ";
    return text;
  }
  bool ShellUntouched() {  // since the last TestShell().Clear()
    const RecordedState s = TestShell().Snapshot();
    return s.statuses.empty() && s.clipboard.empty() && s.listRefreshes == 0;
  }
};

// Only the first address counts, a line's first 4096 bytes are examined, the end after a publish is reported.
TEST_F(TunnelTest, ReaderPublishesTheFirstAddressOnly) {
  FakeTunnel fake;
  const std::pair<std::string, std::string> rows[] = {
      {"print ERR failed to request quick Tunnel: Post \"https://api.trycloudflare.com/tunnel\"\n"
       "sleep 300\nprintcr INF Requesting new quick Tunnel...\nprintcr \nprint \n"
       "eprint INF |  https://first-one.trycloudflare.com  |\n"
       "print INF |  https://second-one.trycloudflare.com  |\n", "first-one"},
      {"print " + std::string(4080, 'x') + "https://cut-off.trycloudflare.com |" + std::string(890, 'y') +
       "\nprint INF | https://after-long.trycloudflare.com |\n", "after-long"},
      {"print " + std::string(4000, 'x') + "| https://in-reach.trycloudflare.com |" + std::string(966, 'y') + "\n",
       "in-reach"}};
  for (const auto& [script, want] : rows) {
    fake.SetScript(script + "sleep 500\nexit 0\n");
    Start();
    EXPECT_EQ(Read(WM_TUNNEL_FAILED), "F R1https://" + want + ".trycloudflare.com X ");
    StopTunnel();
    std::lock_guard<std::mutex> lock(g_probedMtx);
    EXPECT_EQ(g_probed, L"https://" + Utf8ToWstr(want) + L".trycloudflare.com/__vhhealth");
  }
}

// In probe_namespace_test.sh's namespace a test CA's TLS server answers for this host: the real probe.
TEST_F(TunnelTest, ReachableAddressIsPublishedAsProbed) {
  if (!std::getenv("VH_PROBE_NAMESPACE")) GTEST_SKIP() << "needs probe_namespace_test.sh";
  SetTunnelProbeForTest(nullptr);
  FakeTunnel fake("print INF |  https://foo-bar.trycloudflare.com  |\nhang\n");
  Start();
  EXPECT_EQ(Read(WM_TUNNEL_READY, 30000), "F R1https://foo-bar.trycloudflare.com ");
}

TEST_F(TunnelTest, ThreeRestartsThenEveryInternetItemGoesLan) {
  FakeTunnel fake("print INF starting\nexit 1\n");
  const int port = g_port;
  auto a = HostItem("inet-a", {}, 0, true, 0), c = HostItem("inet-c", {}, 0, true, 0);
  RebindIfModeChanged();
  ASSERT_FALSE(g_listenAllIfaces.load());  // Internet items only: loopback
  Start();
  for (int failure = 1; failure <= 4 && g_tunRunning.load(); ++failure)
    ASSERT_FALSE(PumpTunnel(hwnd_, WM_TUNNEL_FAILED, 15000, true).empty()) << "failure " << failure;
  EXPECT_EQ(Statuses(), (std::vector<std::wstring>{kDropped, kDropped, kDropped, kUnavailable}));
  EXPECT_TRUE(!g_tunRunning.load() && g_listenAllIfaces.load() && g_port == port);  // moved, same port
  EXPECT_EQ(std::pair(a->mode + c->mode, fake.Pids().size()), std::pair(2, size_t{4}));  // start, three restarts
  TestShell().Clear();  // without Internet items a failure falls back at once
  fake.SetScript("exit 0\n");
  Start();
  PumpTunnel(hwnd_, WM_TUNNEL_FAILED, 15000, true);
  EXPECT_EQ(Statuses(), std::vector<std::wstring>{kUnavailable});
  EXPECT_TRUE(g_tunRetryLeft.load() == kTunnelRestarts && fake.Pids().size() == 5u);
}

TEST_F(TunnelTest, PublishRelinksEveryItemAndCopiesTheNewest) {
  FakeTunnel fake("print INF |  https://relink-test.trycloudflare.com  |\nhang\n");
  auto a = HostItem("first-item", {}, 0, true, 0), lan = HostItem("lan-item", {}, 0, true, 1);
  auto c = HostItem("newest-item", {}, 0, true, 0);
  const std::string lanBefore = State({lan}).substr(1), host = "https://relink-test.trycloudflare.com";
  Start();
  PumpTunnel(hwnd_, WM_TUNNEL_READY, 15000, true);
  EXPECT_EQ(State({a, c, lan}), host + " " + host + "/first-item 0 " + host + "/newest-item 0 " + lanBefore);
  EXPECT_EQ(TestShell().clipboard, std::vector<std::wstring>{Utf8ToWstr(host + "/newest-item")});
  EXPECT_EQ(TestShell().LastStatus(), L"Link ready and copied to clipboard.");
  StopTunnel();  // forgets the address, keeps the links given out
  EXPECT_EQ(State({a}), " " + host + "/first-item 0");
}

// Only marked addresses count (not another pointer, a static); unprobed, null (links wait), stale (after a stop).
TEST_F(TunnelTest, ForgedNullUnprobedAndStaleAddresses) {
  static char forged[] = "https://forged.trycloudflare.com";
  FakeTunnel fake;
  auto a = HostItem("inet-item", {}, 0, true, 0);
  auto forgeAll = [&] {  // the item's state after the forgeries, if they left the shell untouched
    TestShell().Clear(), OnTunnelReady(hwnd_, 1, reinterpret_cast<LPARAM>(forged)), OnTunnelReady(hwnd_, 1, 0);
    OnTunnelFound(hwnd_), OnTunnelFailed(hwnd_);
    return ShellUntouched() ? State({a}) : "shell touched";
  };
  EXPECT_EQ(forgeAll(), "  0");  // no tunnel: no fallback, no address taken
  Start();
  const LPARAM real = ReaderAddress("https://s.trycloudflare.com");
  EXPECT_EQ(forgeAll(), "  0");  // the mark is for another pointer
  OnTunnelReady(hwnd_, 0, real);
  const std::string published = "https://s.trycloudflare.com https://s.trycloudflare.com/inet-item 0";
  EXPECT_EQ(State({a}), published);
  EXPECT_EQ(TestShell().LastStatus(), L"Link ready and copied. Allow a few seconds to come online.");
  EXPECT_EQ(forgeAll(), published);  // a published tunnel: no restart, no link replaced
  EXPECT_TRUE(g_tunRunning.load() && g_tunRetryLeft.load() == kTunnelRestarts);
  OnTunnelReady(hwnd_, 1, ReaderAddress(nullptr));
  EXPECT_EQ(State({a}), "  0");
  EXPECT_TRUE(TestShell().clipboard.empty() && TestShell().statuses.empty());
  StopTunnel();  // after a stop an address is stale (the handler still frees it)
  TestShell().Clear();
  OnTunnelReady(hwnd_, 1, ReaderAddress("https://late.trycloudflare.com"));
  EXPECT_EQ(State({a}), "  0");
  EXPECT_TRUE(ShellUntouched());
  EXPECT_STREQ(forged, "https://forged.trycloudflare.com");
}
}  // namespace
