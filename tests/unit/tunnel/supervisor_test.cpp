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
  std::string s = TunnelHost();
  for (const auto& item : items) s.append(" ").append(item->url).append(" ").append(std::to_string(static_cast<int>(item->mode)));
  return s;
}
// An event as a reader of tunnel start `generation` pushes it.
AppEvent Event(EventKind kind, uint32_t generation, const std::string& address = "", bool probeOk = true) {
  AppEvent e;
  e.kind = kind, e.generation = generation, e.probeOk = probeOk, e.address = address;
  return e;
}

class TunnelTest : public ShareTest {
 protected:
  void SetUp() override {
    ShareTest::SetUp(), DiscardTunnelMessages(), SetTunnelProbeForTest(ProbeOk);
    ASSERT_EQ(StartServerIfNeeded(hwnd_, AnyHostedInMode(ShareMode::kLan)), ServerStart::kRunning);
  }
  void TearDown() override {
    StopTunnel(), DiscardTunnelMessages(), SetTunnelProbeForTest(nullptr), ShareTest::TearDown();
  }
  void Start() {  // as sharing a new Internet item does
    ASSERT_TRUE(StartTunnelIfNeeded(hwnd_));
    ArmTunnelRestarts();
  }
  // The reader's events of the current start as text ("F", "R<probeOk><address>", "X"), not handled.
  std::string Read(EventKind until, unsigned timeoutMs = 10000) {
    std::string text;
    for (const auto& e : PumpTunnel(hwnd_, until, timeoutMs, false))
      text += e.generation != TunnelGeneration()         ? "?"
              : e.kind == EventKind::kTunnelReady ? "R" + std::to_string(e.probeOk) + e.address + " "
              : e.kind == EventKind::kTunnelFound ? "F "
                                                  : "X ";
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
    EXPECT_EQ(Read(EventKind::kTunnelFailed), "F R1https://" + want + ".trycloudflare.com X ");
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
  EXPECT_EQ(Read(EventKind::kTunnelReady, 30000), "F R1https://foo-bar.trycloudflare.com ");
}

TEST_F(TunnelTest, ThreeRestartsThenEveryInternetItemGoesLan) {
  FakeTunnel fake("print INF starting\nexit 1\n");
  const int port = ServerPort();
  auto a = HostItem("inet-a", {}, 0, true, ShareMode::kInternet), c = HostItem("inet-c", {}, 0, true, ShareMode::kInternet);
  SetListenAllInterfaces(AnyHostedInMode(ShareMode::kLan));
  ASSERT_FALSE(ListeningOnAllInterfaces());  // Internet items only: loopback
  Start();
  for (int failure = 1; failure <= 4 && TunnelRunning(); ++failure)
    ASSERT_FALSE(PumpTunnel(hwnd_, EventKind::kTunnelFailed, 15000, true).empty()) << "failure " << failure;
  EXPECT_EQ(Statuses(), (std::vector<std::wstring>{kDropped, kDropped, kDropped, kUnavailable}));
  EXPECT_TRUE(!TunnelRunning() && ListeningOnAllInterfaces() && ServerPort() == port);  // moved, same port
  EXPECT_EQ(std::tuple(a->mode, c->mode, fake.Pids().size()), std::tuple(ShareMode::kLan, ShareMode::kLan, size_t{4}));  // start, three restarts
  TestShell().Clear();  // without Internet items a failure falls back at once
  fake.SetScript("exit 0\n");
  Start();
  PumpTunnel(hwnd_, EventKind::kTunnelFailed, 15000, true);
  EXPECT_EQ(Statuses(), std::vector<std::wstring>{kUnavailable});
  EXPECT_TRUE(TunnelRestartsLeft() == kTunnelRestarts && fake.Pids().size() == 5u);
}

TEST_F(TunnelTest, PublishRelinksEveryItemAndCopiesTheNewest) {
  FakeTunnel fake("print INF |  https://relink-test.trycloudflare.com  |\nhang\n");
  auto a = HostItem("first-item", {}, 0, true, ShareMode::kInternet), lan = HostItem("lan-item", {}, 0, true, ShareMode::kLan);
  auto c = HostItem("newest-item", {}, 0, true, ShareMode::kInternet);
  const std::string lanBefore = State({lan}).substr(1), host = "https://relink-test.trycloudflare.com";
  Start();
  PumpTunnel(hwnd_, EventKind::kTunnelReady, 15000, true);
  EXPECT_EQ(State({a, c, lan}), host + " " + host + "/first-item 0 " + host + "/newest-item 0 " + lanBefore);
  EXPECT_EQ(TestShell().clipboard, std::vector<std::wstring>{Utf8ToWstr(host + "/newest-item")});
  EXPECT_EQ(TestShell().LastStatus(), L"Link ready and copied to clipboard.");
  StopTunnel();  // forgets the address, keeps the links given out
  EXPECT_EQ(State({a}), " " + host + "/first-item 0");
}

// Only the running start's events count (not an earlier start's, not an empty wake-up); unprobed, empty (links wait), stale (after a stop).
TEST_F(TunnelTest, ForeignEmptyUnprobedAndStaleEvents) {
  FakeTunnel fake;
  auto a = HostItem("inet-item", {}, 0, true, ShareMode::kInternet);
  auto forgeAll = [&](uint32_t generation) {  // the item's state after the forgeries, if they left the shell untouched
    TestShell().Clear(), HandleSharingEvents(hwnd_);  // woken to an empty queue
    for (EventKind kind : {EventKind::kTunnelReady, EventKind::kTunnelFound, EventKind::kTunnelFailed})
      OnSharingEvent(hwnd_, Event(kind, generation, "https://forged.trycloudflare.com"));
    return ShellUntouched() ? State({a}) : "shell touched";
  };
  EXPECT_EQ(forgeAll(TunnelGeneration()), "  0");  // no tunnel: no fallback, no address taken
  Start();
  const uint32_t now = TunnelGeneration();
  EXPECT_EQ(forgeAll(now - 1) + forgeAll(now + 1), "  0  0");  // an earlier start's, one never handed out
  OnSharingEvent(hwnd_, Event(EventKind::kTunnelReady, now, "https://s.trycloudflare.com", false));
  const std::string published = "https://s.trycloudflare.com https://s.trycloudflare.com/inet-item 0";
  EXPECT_EQ(State({a}), published);
  EXPECT_EQ(TestShell().LastStatus(), L"Link ready and copied. Allow a few seconds to come online.");
  EXPECT_EQ(forgeAll(now + 1), published);  // a published tunnel: no restart, no link replaced
  EXPECT_TRUE(TunnelRunning() && TunnelRestartsLeft() == kTunnelRestarts);
  OnSharingEvent(hwnd_, Event(EventKind::kTunnelReady, now));
  EXPECT_EQ(State({a}), "  0");
  EXPECT_TRUE(TestShell().clipboard.empty() && TestShell().statuses.empty());
  StopTunnel();  // after a stop the reader's last events are stale
  EXPECT_EQ(forgeAll(now), "  0");
}
}  // namespace
