// Tunnel supervision against the fake client: restarts, fallback to
// same-network links, publishing, stale messages, stopping, and no processes
// left behind.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "core/app_messages.h"
#include "core/links.h"
#include "core/registry.h"
#include "fake_tunnel.h"
#include "http/listener.h"
#include "platform/text.h"
#include "recording_shell.h"
#include "tunnel/client.h"
#include "tunnel/reader.h"
#include "tunnel/supervisor.h"

namespace {

const wchar_t kDropped[] = L"Tunnel dropped. Reconnecting...";
const wchar_t kUnavailable[] = L"Tunnel unavailable. Using LAN links instead.";

std::shared_ptr<HostedItem> AddItem(const std::string& slug, int mode) {
  auto item = std::make_shared<HostedItem>();
  item->name = slug + ".txt";
  item->slug = slug;
  item->mode = mode;
  std::lock_guard<std::mutex> lock(g_hostedMtx);
  BuildItemUrl_locked(*item);
  g_hosted.push_back(item);
  return item;
}

std::string Url(const std::shared_ptr<HostedItem>& item) {
  std::lock_guard<std::mutex> lock(g_hostedMtx);
  return item->url;
}

int Mode(const std::shared_ptr<HostedItem>& item) {
  std::lock_guard<std::mutex> lock(g_hostedMtx);
  return item->mode;
}

std::string TunHost() {
  std::lock_guard<std::mutex> lock(g_hostedMtx);
  return g_tunHost;
}

std::string LanUrl(const std::string& slug) {
  return "http://" + (g_cachedLanIp.empty() ? std::string("127.0.0.1") : g_cachedLanIp) + ":" +
         std::to_string(g_port) + "/" + slug;
}

int Count(const std::vector<std::wstring>& v, const std::wstring& s) {
  int n = 0;
  for (const auto& x : v) n += x == s;
  return n;
}

bool ProbeOk(const std::wstring&) { return true; }

// An address as the reader hands it over: a heap copy (or null), marked.
LPARAM ReaderAddress(const char* text) {
  const LPARAM address = reinterpret_cast<LPARAM>(text ? NewTunnelAddress(text) : nullptr);
  MarkTunnelMessage(WM_TUNNEL_READY, address);
  return address;
}

class SupervisorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DiscardTunnelMessages();
    TestShell().Clear();
    hwnd_ = CreateMessageWindow();
    g_hMain = hwnd_;
    ASSERT_TRUE(StartServerIfNeeded(hwnd_));
  }
  void TearDown() override {
    StopTunnel();
    SetTunnelProbeForTest(nullptr);
    DiscardTunnelMessages();
    ClearHosted();
    StopServer();
    g_hMain = nullptr;
    DestroyMessageWindow(hwnd_);
  }
  // Starts the client as sharing a new Internet item does.
  void StartForNewItem() {
    ASSERT_TRUE(StartTunnelIfNeeded(hwnd_));
    g_tunRetryLeft.store(kTunnelRestarts);
  }
  std::vector<std::wstring> Statuses() {
    std::lock_guard<std::mutex> lock(TestShell().mtx);
    return TestShell().statuses;
  }
  HWND hwnd_ = nullptr;
};

TEST_F(SupervisorTest, CommandLineAndSecondStart) {
  FakeTunnel fake;
  StartForNewItem();
  EXPECT_TRUE(g_tunRunning.load());
  EXPECT_FALSE(g_tunReady.load());
  EXPECT_TRUE(StartTunnelIfNeeded(hwnd_));  // already running: no second client
  std::vector<uint32_t> pids;
  for (int i = 0; i < 100 && (pids = fake.Pids()).empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_EQ(pids.size(), 1u);
  const std::string path = WstrToUtf8(GetCloudflaredPath());
  EXPECT_EQ(path, WstrToUtf8(FakeClientPath()));
  const std::string args =
      " tunnel --no-autoupdate --protocol http2 --url http://localhost:" + std::to_string(g_port);
#ifdef _WIN32
  EXPECT_EQ(fake.CommandLine(), "\"" + path + "\"" + args);  // the exact command line
#else
  EXPECT_EQ(fake.CommandLine(), path + args);  // argv joined by blanks
#endif
  StopTunnel();
  EXPECT_FALSE(g_tunRunning.load());
  EXPECT_FALSE(g_tunReader.joinable());
  EXPECT_FALSE(g_tunProc.valid());
  EXPECT_FALSE(g_tunStdoutRead.valid());
  EXPECT_TRUE(WaitProcessGone(pids[0], 5000));
}

TEST_F(SupervisorTest, ThreeRestartsThenEveryInternetItemGoesLan) {
  FakeTunnel fake("print INF starting\nexit 1\n");
  const int port = g_port;
  auto a = AddItem("inet-a", 0);
  auto c = AddItem("inet-c", 0);
  RebindIfModeChanged();
  ASSERT_FALSE(g_listenAllIfaces.load());  // Internet items only: loopback
  EXPECT_EQ(Url(a), "");  // waiting for the tunnel

  StartForNewItem();
  for (int failure = 1; failure <= 4 && g_tunRunning.load(); ++failure) {
    const auto events = PumpTunnel(hwnd_, WM_TUNNEL_FAILED, 15000, true);
    ASSERT_FALSE(events.empty()) << "failure " << failure;
    EXPECT_EQ(events.back().msg, WM_TUNNEL_FAILED);
  }
  const auto statuses = Statuses();
  EXPECT_EQ(Count(statuses, kDropped), 3);
  ASSERT_FALSE(statuses.empty());
  EXPECT_EQ(statuses.back(), kUnavailable);
  EXPECT_EQ(g_tunRetryLeft.load(), 0);
  EXPECT_FALSE(g_tunRunning.load());

  EXPECT_EQ(Mode(a), 1);
  EXPECT_EQ(Mode(c), 1);
  EXPECT_EQ(Url(a), LanUrl("inet-a"));
  EXPECT_EQ(Url(c), LanUrl("inet-c"));
  // The listener moved to all interfaces on the same port.
  EXPECT_TRUE(g_serverRunning.load());
  EXPECT_TRUE(g_listenAllIfaces.load());
  EXPECT_EQ(g_port, port);

  const auto pids = fake.Pids();
  EXPECT_EQ(pids.size(), 4u);  // the first start and three restarts
  for (uint32_t pid : pids) EXPECT_TRUE(WaitProcessGone(pid, 5000)) << pid;
}

TEST_F(SupervisorTest, FailureWithoutInternetItemsFallsBackAtOnce) {
  FakeTunnel fake("exit 0\n");
  auto lan = AddItem("only-lan", 1);
  StartForNewItem();
  PumpTunnel(hwnd_, WM_TUNNEL_FAILED, 15000, true);
  const auto statuses = Statuses();
  EXPECT_EQ(Count(statuses, kDropped), 0);
  ASSERT_FALSE(statuses.empty());
  EXPECT_EQ(statuses.back(), kUnavailable);
  EXPECT_EQ(g_tunRetryLeft.load(), kTunnelRestarts);
  EXPECT_EQ(fake.Pids().size(), 1u);
}

TEST_F(SupervisorTest, PublishRelinksEveryItemAndCopiesTheNewest) {
  SetTunnelProbeForTest(ProbeOk);
  FakeTunnel fake("print INF |  https://relink-test.trycloudflare.com  |\nhang\n");
  auto a = AddItem("first-item", 0);
  auto lan = AddItem("lan-item", 1);
  auto c = AddItem("newest-item", 0);
  const std::string lanBefore = Url(lan);
  StartForNewItem();
  const auto events = PumpTunnel(hwnd_, WM_TUNNEL_READY, 15000, true);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].msg, WM_TUNNEL_FOUND);
  EXPECT_EQ(events[1].wParam, 1u);

  const std::string host = "https://relink-test.trycloudflare.com";
  EXPECT_EQ(TunHost(), host);
  EXPECT_EQ(Url(a), host + "/first-item");
  EXPECT_EQ(Url(c), host + "/newest-item");
  EXPECT_EQ(Url(lan), lanBefore);
  {
    RecordingShell& s = TestShell();
    std::lock_guard<std::mutex> lock(s.mtx);
    ASSERT_EQ(s.clipboard.size(), 1u);
    EXPECT_EQ(s.clipboard[0], Utf8ToWstr(host + "/newest-item"));
    ASSERT_GE(s.statuses.size(), 2u);
    EXPECT_EQ(s.statuses[s.statuses.size() - 2], L"Public link found. Checking it's reachable...");
    EXPECT_EQ(s.statuses.back(), L"Link ready and copied to clipboard.");
    EXPECT_GE(s.listRefreshes, 1);
    EXPECT_GE(s.latestRefreshes, 1);
  }

  // Stopping forgets the address but keeps the links already given out.
  StopTunnel();
  EXPECT_EQ(TunHost(), "");
  EXPECT_EQ(Url(a), host + "/first-item");
}

TEST_F(SupervisorTest, UnprobedPublishAsksToAllowAFewSeconds) {
  FakeTunnel fake;
  auto a = AddItem("slow-item", 0);
  StartForNewItem();
  OnTunnelReady(hwnd_, 0, ReaderAddress("https://s.trycloudflare.com"));
  EXPECT_EQ(Url(a), "https://s.trycloudflare.com/slow-item");
  EXPECT_EQ(TestShell().LastStatus(), L"Link ready and copied. Allow a few seconds to come online.");
  // A null address reads as empty: Internet links wait again, nothing is copied.
  TestShell().Clear();
  OnTunnelReady(hwnd_, 1, ReaderAddress(nullptr));
  EXPECT_EQ(Url(a), "");
  EXPECT_TRUE(TestShell().clipboard.empty());
  EXPECT_TRUE(TestShell().statuses.empty());
}

TEST_F(SupervisorTest, ReadyAfterStopChangesNothing) {
  FakeTunnel fake;
  auto a = AddItem("stale-item", 0);
  StartForNewItem();
  StopTunnel();
  TestShell().Clear();
  // The handler owns the string; leak checkers see it freed.
  OnTunnelReady(hwnd_, 1, ReaderAddress("https://late.trycloudflare.com"));
  EXPECT_EQ(TunHost(), "");
  EXPECT_EQ(Url(a), "");
  RecordingShell& s = TestShell();
  std::lock_guard<std::mutex> lock(s.mtx);
  EXPECT_TRUE(s.statuses.empty());
  EXPECT_TRUE(s.clipboard.empty());
  EXPECT_EQ(s.listRefreshes, 0);
}

// Messages the reader did not post (another program can post the same
// numbers): ignored whether a tunnel runs or not, a stranger's pointer never
// read or freed (the string below is static: freeing it would crash).
TEST_F(SupervisorTest, MessagesTheReaderDidNotPostChangeNothing) {
  static char forged[] = "https://forged.trycloudflare.com";
  SetTunnelProbeForTest(ProbeOk);
  FakeTunnel fake("print INF |  https://real-one.trycloudflare.com  |\nhang\n");
  auto a = AddItem("inet-item", 0);
  auto forgeAll = [&] {
    TestShell().Clear();
    OnTunnelReady(hwnd_, 1, reinterpret_cast<LPARAM>(forged));
    OnTunnelReady(hwnd_, 1, 0);
    OnTunnelFound(hwnd_);
    OnTunnelFailed(hwnd_);
    RecordingShell& s = TestShell();
    std::lock_guard<std::mutex> lock(s.mtx);
    EXPECT_TRUE(s.statuses.empty());
    EXPECT_TRUE(s.clipboard.empty());
    EXPECT_EQ(s.listRefreshes, 0);
  };

  // No tunnel: no fallback to a same-network link, no address taken.
  forgeAll();
  EXPECT_EQ(Mode(a), 0);
  EXPECT_EQ(Url(a), "");
  EXPECT_EQ(TunHost(), "");

  // A published tunnel: no restart, no link emptied or replaced.
  StartForNewItem();
  ASSERT_EQ(PumpTunnel(hwnd_, WM_TUNNEL_READY, 15000, true).size(), 2u);
  const std::string link = "https://real-one.trycloudflare.com/inet-item";
  ASSERT_EQ(Url(a), link);
  forgeAll();
  EXPECT_TRUE(g_tunRunning.load());
  EXPECT_EQ(g_tunRetryLeft.load(), kTunnelRestarts);
  EXPECT_EQ(fake.Pids().size(), 1u);
  EXPECT_EQ(TunHost(), "https://real-one.trycloudflare.com");
  EXPECT_EQ(Url(a), link);
  EXPECT_EQ(Mode(a), 0);
  EXPECT_STREQ(forged, "https://forged.trycloudflare.com");
}

double StopSeconds() {
  const auto t0 = std::chrono::steady_clock::now();
  StopTunnel();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

TEST_F(SupervisorTest, StopWhileTheReaderPollsOrProbes) {
  FakeTunnel fake("print INF starting\nhang\n");
  StartForNewItem();
  std::this_thread::sleep_for(std::chrono::milliseconds(350));
  const double idle = StopSeconds();
  EXPECT_FALSE(g_tunReader.joinable());
  ASSERT_EQ(fake.Pids().size(), 1u);
  EXPECT_TRUE(WaitProcessGone(fake.Pids()[0], 5000));

  // During the probe pauses (the probe fails at once here).
  SetTunnelProbeForTest([](const std::wstring&) { return false; });
  fake.SetScript("print INF | https://pausing.trycloudflare.com |\nhang\n");
  StartForNewItem();
  PumpTunnel(hwnd_, WM_TUNNEL_FOUND, 10000, false);
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  const double probing = StopSeconds();
  EXPECT_FALSE(g_tunReader.joinable());
  std::printf("StopTunnel took %.3f s while polling, %.3f s while probing\n", idle, probing);
  RecordProperty("stop_idle_ms", static_cast<int>(idle * 1000));
  RecordProperty("stop_probing_ms", static_cast<int>(probing * 1000));
}

TEST_F(SupervisorTest, RemovingTheLastInternetItemStopsTheClientKeepsTheServer) {
  FakeTunnel fake;
  auto inet = AddItem("inet-only", 0);
  auto lan = AddItem("lan-stays", 1);
  RebindIfModeChanged();
  StartForNewItem();
  std::vector<uint32_t> pids;
  for (int i = 0; i < 100 && (pids = fake.Pids()).empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_EQ(pids.size(), 1u);
  EXPECT_TRUE(ProcessAlive(pids[0]));

  // What "Stop Selected" does for the Internet row.
  std::shared_ptr<HostedItem> removed;
  int internetLeft = -1;
  ASSERT_TRUE(RemoveHostedAt(0, removed, internetLeft));
  EXPECT_EQ(internetLeft, 0);
  if (internetLeft == 0) StopTunnel();
  RebindIfModeChanged();

  EXPECT_TRUE(WaitProcessGone(pids[0], 5000));
  EXPECT_FALSE(g_tunRunning.load());
  EXPECT_TRUE(g_serverRunning.load());
  EXPECT_EQ(Url(lan), LanUrl("lan-stays"));
  // The LAN item is still served.
  SOCKET s = ConnectLoopback(g_port);
  ASSERT_NE(s, INVALID_SOCKET);
  SendText(s, "GET /lan-stays HTTP/1.1\r\nHost: x\r\n\r\n");
  const std::string answer = ReadAll(s, 5000);
  closesocket(s);
  EXPECT_EQ(answer.rfind("HTTP/1.1 ", 0), 0u) << answer.substr(0, 80);
}

}  // namespace
