// The listener over real loopback sockets: address and port, moves between
// loopback and all interfaces, the connection limit, stopping.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <string>
#include <vector>
#ifndef _WIN32
#include <fcntl.h>
#endif

#include "http/listener.h"
#include "http_test_util.h"
#include "test_util.h"

namespace {

using namespace std::chrono_literals;

std::vector<std::wstring> g_notices;
void RecordNotice(const wchar_t* text) { g_notices.push_back(text); }

void Unhost(const std::string& slug) {
  const auto items = SnapshotHosted();
  for (size_t i = 0; i < items.size(); ++i) {
    std::shared_ptr<HostedItem> removed;
    int left = 0;
    if (items[i]->slug == slug) RemoveHostedAt(i, removed, left);
  }
}

bool HealthOk(int port) {
  const std::string answer = Fetch(port, Get("/__vhhealth"));
  return answer.rfind("HTTP/1.1 200 OK\r\n", 0) == 0 && answer.ends_with("\r\n\r\nvornhale-ok");
}

bool WaitForConns(int n) {
  return WaitUntil([n] { return g_activeConns.load() == n; }, 10000, 5);
}

// The address g_listenSock is bound to (host byte order); the port must be g_port.
uint32_t BoundAddress() {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (getsockname(g_listenSock.load(), reinterpret_cast<sockaddr*>(&a), &len) != 0) return 1;
  EXPECT_EQ(ntohs(a.sin_port), g_port);
  EXPECT_EQ(g_listenAllIfaces.load(), a.sin_addr.s_addr == htonl(INADDR_ANY));
  return ntohl(a.sin_addr.s_addr);
}

// A helper program started with handle inheritance (the tunnel client) must
// not keep the listening socket, or the port stays taken after a stop.
bool Inheritable(SOCKET s) {
#ifdef _WIN32
  DWORD flags = 0;
  return GetHandleInformation(reinterpret_cast<HANDLE>(s), &flags) && (flags & HANDLE_FLAG_INHERIT);
#else
  return (fcntl(s, F_GETFD) & FD_CLOEXEC) == 0;
#endif
}

class ListenerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_notices.clear();
    SetServerNotice(RecordNotice);
  }
  void TearDown() override {
    StopServer();
    ClearHosted();
    EXPECT_TRUE(WaitForConns(0));
    SetServerNotice(nullptr);
  }
  // Starts the way sharing does: start, then the item is hosted, then the re-check.
  void ShareFirst(const std::string& slug, int mode) {
    ASSERT_TRUE(StartServerIfNeeded(nullptr));
    HostItem(slug, {}, "file.bin", 0, true, {}, mode);
    EXPECT_TRUE(RebindIfModeChanged());
    ASSERT_TRUE(g_serverRunning.load());
  }
};

TEST_F(ListenerTest, LanItemsMoveTheListenerOnTheSamePort) {
  ShareFirst("inet-item", 0);
  const int port = g_port;
  EXPECT_GE(port, kPortMin);
  EXPECT_LE(port, kPortMax);
  EXPECT_FALSE(g_cachedLanIp.empty());
  const struct {
    const char* slug;
    bool add;
    uint32_t want;
  } steps[] = {
      {"inet-item", true, INADDR_LOOPBACK}, {"lan-1", true, INADDR_ANY}, {"lan-2", true, INADDR_ANY},
      {"lan-1", false, INADDR_ANY},         {"lan-2", false, INADDR_LOOPBACK},
      {"lan-3", true, INADDR_ANY},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.slug);
    const SOCKET before = g_listenSock.load();
    const bool moves = g_listenAllIfaces.load() != (s.want == INADDR_ANY);
    if (s.slug != std::string("inet-item")) {
      if (s.add) HostItem(s.slug, {}, "file.bin", 0, true, {}, 1);
      else Unhost(s.slug);
      EXPECT_TRUE(RebindIfModeChanged());
    }
    ASSERT_TRUE(g_serverRunning.load());
    EXPECT_EQ(g_port, port);
    EXPECT_EQ(BoundAddress(), s.want);
    EXPECT_TRUE(moves || g_listenSock.load() == before);  // no change, no re-bind
    EXPECT_FALSE(Inheritable(g_listenSock.load()));
    EXPECT_TRUE(HealthOk(port));
  }
  // A start while running changes nothing, even with a move due.
  Unhost("lan-3");
  const SOCKET sock = g_listenSock.load();
  EXPECT_TRUE(StartServerIfNeeded(nullptr));
  EXPECT_EQ(g_listenSock.load(), sock);
  EXPECT_EQ(BoundAddress(), INADDR_ANY);
  EXPECT_TRUE(g_notices.empty());

  // Stopped, and started again while a LAN item is hosted: all interfaces at once.
  StopServer();
  EXPECT_FALSE(g_serverRunning.load());
  EXPECT_EQ(g_listenSock.load(), INVALID_SOCKET);
  EXPECT_EQ(g_port, 0);
  EXPECT_FALSE(g_listenAllIfaces.load());
  EXPECT_EQ(ConnectLoopback(port), INVALID_SOCKET);
  StopServer();  // a second stop does nothing
  HostItem("lan-4", {}, "file.bin", 0, true, {}, 1);
  ASSERT_TRUE(StartServerIfNeeded(nullptr));
  EXPECT_EQ(BoundAddress(), INADDR_ANY);
}

TEST_F(ListenerTest, FailedRebindStopsAndNextStartDrawsANewPort) {
  ShareFirst("inet-item", 0);
  const int port = g_port;
  // Another program takes the port on another loopback address, so binding
  // the port on all interfaces must fail.
  SOCKET occupier = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(0x7F000002);  // 127.0.0.2
  if (bind(occupier, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(occupier, 1) != 0) {
    closesocket(occupier);
    GTEST_SKIP() << "cannot occupy 127.0.0.2:" << port << " next to the server";
  }
  HostItem("lan-item", {}, "file.bin", 0, true, {}, 1);
  EXPECT_FALSE(RebindIfModeChanged());
  EXPECT_FALSE(g_serverRunning.load());
  EXPECT_EQ(g_listenSock.load(), INVALID_SOCKET);
  EXPECT_EQ(g_port, port);
  EXPECT_FALSE(g_listenAllIfaces.load());
  EXPECT_EQ(g_notices, std::vector<std::wstring>{L"Server rebind failed. Stop all and restart sharing."});
  EXPECT_FALSE(HealthOk(port));
  EXPECT_TRUE(RebindIfModeChanged());  // stopped: nothing happens
  EXPECT_FALSE(g_serverRunning.load());

  ASSERT_TRUE(StartServerIfNeeded(nullptr));
  EXPECT_NE(g_port, port);  // the probe sees the occupier on that port
  EXPECT_EQ(BoundAddress(), INADDR_ANY);
  EXPECT_TRUE(HealthOk(g_port));
  closesocket(occupier);
}

// 64 silent clients fill every slot; the next connections get the 503 answer
// and an orderly end of stream (their request was read, so no reset).
TEST_F(ListenerTest, SixtyFifthConnectionIsRefusedCleanly) {
  ShareFirst("inet-item", 0);
  std::vector<SOCKET> held;
  for (int i = 0; i < kMaxConnections; ++i) held.push_back(ConnectLoopback(g_port));
  ASSERT_TRUE(WaitForConns(kMaxConnections));
  for (int i = 0; i < 3; ++i) {
    bool reset = true;
    EXPECT_EQ(Fetch(g_port, Get("/__vhhealth"), &reset),
              "HTTP/1.1 503 Service Unavailable\r\nRetry-After: 5\r\nX-Content-Type-Options: "
              "nosniff\r\nCache-Control: no-store\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    EXPECT_FALSE(reset);
  }
  EXPECT_EQ(g_activeConns.load(), kMaxConnections);
  closesocket(held.back());  // one slot frees up
  held.pop_back();
  ASSERT_TRUE(WaitForConns(kMaxConnections - 1));
  EXPECT_TRUE(HealthOk(g_port));
  for (SOCKET s : held) closesocket(s);
}

TEST_F(ListenerTest, StoppingDuringADownloadLetsItFinish) {
  TempDir dir;
  const std::string content = Pattern(16u << 20);
  ASSERT_TRUE(StartServerIfNeeded(nullptr));
  HostItem("big-file", dir.Write(L"big.bin", content), "big.bin", content.size(), true, {}, 0);
  const int port = g_port;
  const SOCKET s = ConnectLoopback(port);
  SendText(s, Get("/big-file?dl=1"));
  std::string answer = ReadAll(s, 5000, nullptr, 4096);
  StopServer();
  EXPECT_EQ(ConnectLoopback(port), INVALID_SOCKET);  // new connections are refused
  bool reset = true;
  answer += ReadAll(s, 10000, &reset);
  closesocket(s);
  EXPECT_FALSE(reset);
  EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
  EXPECT_TRUE(answer.ends_with("\r\n\r\n" + content));
}

// CPU time of the whole process in seconds (clock() is wall time on Windows).
double ProcessCpuSeconds() {
#ifdef _WIN32
  FILETIME t[4];
  GetProcessTimes(GetCurrentProcess(), &t[0], &t[1], &t[2], &t[3]);
  return ((uint64_t{t[2].dwHighDateTime} + t[3].dwHighDateTime) * 4294967296.0 +
          t[2].dwLowDateTime + t[3].dwLowDateTime) / 1e7;
#else
  return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
#endif
}

// accept failing over and over (the socket does not listen) must not spin: a
// spinning loop burns about a second of CPU time in this second.
TEST_F(ListenerTest, PersistentAcceptFailureDoesNotSpin) {
  const SOCKET dead = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  g_listenSock.store(dead);
  g_serverRunning.store(true);
  const double cpu0 = ProcessCpuSeconds();
  std::thread loop(ServerThreadProc, nullptr);
  std::this_thread::sleep_for(1s);
  const double cpuSeconds = ProcessCpuSeconds() - cpu0;
  g_serverRunning.store(false);
  loop.join();
  g_listenSock.store(INVALID_SOCKET);
  closesocket(dead);
  EXPECT_LT(cpuSeconds, 0.5);
}

}  // namespace
