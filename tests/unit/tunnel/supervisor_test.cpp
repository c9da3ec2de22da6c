// Tunnel supervision against the fake client: one client at a time, restarts,
// fallback to same-network links, publishing, stale and forged messages.
#include <gtest/gtest.h>

#include <algorithm>
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
#include "tunnel/reader.h"
#include "sharing/session.h"
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

// An item's link and mode, and the tunnel's host, read under the lock.
template <class F>
auto Locked(F read) {
  std::lock_guard<std::mutex> lock(g_hostedMtx);
  return read();
}
std::string Url(const std::shared_ptr<HostedItem>& item) { return Locked([&] { return item->url; }); }
int Mode(const std::shared_ptr<HostedItem>& item) { return Locked([&] { return item->mode; }); }
std::string TunHost() { return Locked([] { return g_tunHost; }); }

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
  // Nothing a user sees changed since the last TestShell().Clear().
  void ExpectShellUntouched() {
    RecordingShell& s = TestShell();
    std::lock_guard<std::mutex> lock(s.mtx);
    EXPECT_TRUE(s.statuses.empty());
    EXPECT_TRUE(s.clipboard.empty());
    EXPECT_EQ(s.listRefreshes, 0);
  }
  HWND hwnd_ = nullptr;
};

TEST_F(SupervisorTest, OneClientForTheServersPortEndedByStop) {
  FakeTunnel fake;
  StartForNewItem();
  EXPECT_TRUE(StartTunnelIfNeeded(hwnd_));  // already running: no second client
  ASSERT_TRUE(WaitUntil([&] { return !fake.Pids().empty(); }, 5000));
  const std::string cmd = fake.CommandLine();
  const std::string tail = " --url http://localhost:" + std::to_string(g_port);
  EXPECT_EQ(cmd.substr(cmd.size() - std::min(cmd.size(), tail.size())), tail) << cmd;
  StopTunnel();
  EXPECT_FALSE(g_tunRunning.load());
  EXPECT_FALSE(g_tunProc.valid());
  EXPECT_FALSE(g_tunStdoutRead.valid());
  ASSERT_EQ(fake.Pids().size(), 1u);
  EXPECT_TRUE(WaitProcessGone(fake.Pids()[0], 5000));
}

TEST_F(SupervisorTest, ThreeRestartsThenEveryInternetItemGoesLan) {
  FakeTunnel fake("print INF starting\nexit 1\n");
  const int port = g_port;
  auto a = AddItem("inet-a", 0);
  auto c = AddItem("inet-c", 0);
  RebindIfModeChanged();
  ASSERT_FALSE(g_listenAllIfaces.load());  // Internet items only: loopback
  StartForNewItem();
  for (int failure = 1; failure <= 4 && g_tunRunning.load(); ++failure)
    ASSERT_FALSE(PumpTunnel(hwnd_, WM_TUNNEL_FAILED, 15000, true).empty()) << "failure " << failure;
  EXPECT_EQ(Statuses(), (std::vector<std::wstring>{kDropped, kDropped, kDropped, kUnavailable}));
  EXPECT_EQ(g_tunRetryLeft.load(), 0);
  EXPECT_FALSE(g_tunRunning.load());
  // Every Internet item falls back (the links themselves: the sharing tests).
  EXPECT_EQ(Mode(a) + Mode(c), 2);
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
  AddItem("only-lan", 1);
  StartForNewItem();
  PumpTunnel(hwnd_, WM_TUNNEL_FAILED, 15000, true);
  EXPECT_EQ(Statuses(), std::vector<std::wstring>{kUnavailable});
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
  ASSERT_EQ(PumpTunnel(hwnd_, WM_TUNNEL_READY, 15000, true).size(), 2u);
  const std::string host = "https://relink-test.trycloudflare.com";
  EXPECT_EQ(TunHost(), host);
  EXPECT_EQ(Url(a), host + "/first-item");
  EXPECT_EQ(Url(c), host + "/newest-item");
  EXPECT_EQ(Url(lan), lanBefore);
  {
    RecordingShell& s = TestShell();
    std::lock_guard<std::mutex> lock(s.mtx);
    EXPECT_EQ(s.clipboard, std::vector<std::wstring>{Utf8ToWstr(host + "/newest-item")});
    EXPECT_EQ(s.statuses, (std::vector<std::wstring>{L"Public link found. Checking it's reachable...",
                                                     L"Link ready and copied to clipboard."}));
    EXPECT_GE(s.listRefreshes, 1);
    EXPECT_GE(s.latestRefreshes, 1);
  }
  // Stopping forgets the address but keeps the links already given out.
  StopTunnel();
  EXPECT_EQ(TunHost(), "");
  EXPECT_EQ(Url(a), host + "/first-item");
}

TEST_F(SupervisorTest, UnprobedNullAndStaleAddresses) {
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
  // After a stop an address is stale (the handler still frees it).
  StopTunnel();
  TestShell().Clear();
  OnTunnelReady(hwnd_, 1, ReaderAddress("https://late.trycloudflare.com"));
  EXPECT_EQ(TunHost(), "");
  EXPECT_EQ(Url(a), "");
  ExpectShellUntouched();
}

// Messages the reader did not post (another program can post the same
// numbers) are ignored, a stranger's pointer never read or freed (the string
// is static: freeing it would crash).
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
    ExpectShellUntouched();
  };
  forgeAll();  // no tunnel: no fallback, no address taken
  EXPECT_EQ(Mode(a), 0);
  EXPECT_EQ(Url(a), "");
  EXPECT_EQ(TunHost(), "");

  StartForNewItem();  // a published tunnel: no restart, no link replaced
  ASSERT_EQ(PumpTunnel(hwnd_, WM_TUNNEL_READY, 15000, true).size(), 2u);
  const std::string link = "https://real-one.trycloudflare.com/inet-item";
  ASSERT_EQ(Url(a), link);
  forgeAll();
  EXPECT_TRUE(g_tunRunning.load());
  EXPECT_EQ(g_tunRetryLeft.load(), kTunnelRestarts);
  EXPECT_EQ(fake.Pids().size(), 1u);
  EXPECT_EQ(Url(a), link);
  EXPECT_EQ(Mode(a), 0);
  EXPECT_STREQ(forged, "https://forged.trycloudflare.com");
}

}  // namespace
