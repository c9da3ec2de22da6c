// The listener over real loopback sockets: address and port choice, moves
// between loopback and all interfaces, the connection limit, stopping.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#endif

#include "core/registry.h"
#include "http/listener.h"
#include "http_test_util.h"
#include "net_client.h"
#include "recording_shell.h"
#include "test_util.h"

namespace {

using namespace std::chrono_literals;

constexpr char kExpected503[] =
    "HTTP/1.1 503 Service Unavailable\r\nRetry-After: 5\r\nX-Content-Type-Options: nosniff\r\n"
    "Cache-Control: no-store\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
constexpr char kHealthRequest[] = "GET /__vhhealth HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";

std::shared_ptr<HostedItem> Host(const std::string& slug, int mode, const std::wstring& path = {},
                                 uint64_t size = 0) {
  auto item = std::make_shared<HostedItem>();
  item->slug = slug;
  item->mode = mode;
  item->path = path;
  item->name = "file.bin";
  item->size = size;
  if (!path.empty()) HoldSharedFile(*item);
  std::lock_guard<std::mutex> lock(g_hostedMtx);
  g_hosted.push_back(item);
  return item;
}

void Unhost(const std::string& slug) {
  std::lock_guard<std::mutex> lock(g_hostedMtx);
  for (size_t i = 0; i < g_hosted.size(); ++i) {
    if (g_hosted[i]->slug == slug) {
      g_hosted.erase(g_hosted.begin() + static_cast<std::ptrdiff_t>(i));
      return;
    }
  }
}

// The address and port g_listenSock is bound to (host byte order).
bool BoundTo(uint32_t& addr, int& port) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (getsockname(g_listenSock.load(), reinterpret_cast<sockaddr*>(&a), &len) != 0) return false;
  addr = ntohl(a.sin_addr.s_addr);
  port = ntohs(a.sin_port);
  return true;
}

bool HealthOk(int port) {
  SOCKET s = ConnectLoopback(port);
  if (s == INVALID_SOCKET) return false;
  SendText(s, kHealthRequest);
  const std::string answer = ReadAll(s, 5000);
  closesocket(s);
  return answer.rfind("HTTP/1.1 200 OK\r\n", 0) == 0 && answer.size() > 11 &&
         answer.compare(answer.size() - 11, 11, "vornhale-ok") == 0;
}

// Waits (bounded) until g_activeConns equals n.
bool WaitForConns(int n, unsigned limitMs = 10000) {
  return WaitUntil([n] { return g_activeConns.load() == n; }, limitMs, 5);
}

class ListenerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearHosted();
    TestShell().Clear();
  }
  void TearDown() override {
    StopServer();
    ClearHosted();
    EXPECT_TRUE(WaitForConns(0));
    EXPECT_FALSE(g_serverRunning.load());
  }

  // Starts the way sharing does: start, then the item is hosted, then the re-check.
  void ShareFirst(const std::string& slug, int mode) {
    ASSERT_TRUE(StartServerIfNeeded(nullptr));
    Host(slug, mode);
    RebindIfModeChanged();
    ASSERT_TRUE(g_serverRunning.load());
  }

  void ExpectBound(uint32_t wantAddr, int wantPort) {
    uint32_t addr = 0;
    int port = 0;
    ASSERT_TRUE(BoundTo(addr, port));
    EXPECT_EQ(addr, wantAddr);
    EXPECT_EQ(port, wantPort);
    EXPECT_EQ(g_listenAllIfaces.load(), wantAddr == INADDR_ANY);
  }
};

TEST_F(ListenerTest, FirstInternetItemListensOnLoopbackOnly) {
  ShareFirst("inet-item", 0);
  EXPECT_GE(g_port, kPortMin);
  EXPECT_LE(g_port, kPortMax);
  ExpectBound(INADDR_LOOPBACK, g_port);
  EXPECT_FALSE(g_cachedLanIp.empty());
  EXPECT_TRUE(HealthOk(g_port));
}

TEST_F(ListenerTest, FirstLanItemListensOnAllInterfaces) {
  ShareFirst("lan-item", 1);
  EXPECT_GE(g_port, kPortMin);
  EXPECT_LE(g_port, kPortMax);
  ExpectBound(INADDR_ANY, g_port);
  EXPECT_TRUE(HealthOk(g_port));
  StopServer();
  // Started while a LAN item is already hosted: all interfaces at once.
  ASSERT_TRUE(StartServerIfNeeded(nullptr));
  ExpectBound(INADDR_ANY, g_port);
}

TEST_F(ListenerTest, LanItemsMoveTheListenerOnTheSamePort) {
  ShareFirst("inet-item", 0);
  const int port = g_port;
  const struct {
    const char* step;
    const char* lanSlug;
    bool add;
    uint32_t want;
  } steps[] = {
      {"first LAN item", "lan-1", true, INADDR_ANY},
      {"second LAN item", "lan-2", true, INADDR_ANY},
      {"one LAN item left", "lan-1", false, INADDR_ANY},
      {"last LAN item gone", "lan-2", false, INADDR_LOOPBACK},
      {"LAN item again", "lan-3", true, INADDR_ANY},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.step);
    const SOCKET before = g_listenSock.load();
    const bool before_all = g_listenAllIfaces.load();
    if (s.add)
      Host(s.lanSlug, 1);
    else
      Unhost(s.lanSlug);
    RebindIfModeChanged();
    ASSERT_TRUE(g_serverRunning.load());
    EXPECT_EQ(g_port, port);
    ExpectBound(s.want, port);
    if (before_all == (s.want == INADDR_ANY)) {
      EXPECT_EQ(g_listenSock.load(), before);  // no change, no re-bind
    }
    EXPECT_TRUE(HealthOk(port));
  }
  EXPECT_TRUE(TestShell().statuses.empty());
}

TEST_F(ListenerTest, StartWhileRunningChangesNothing) {
  ShareFirst("inet-item", 0);
  const SOCKET sock = g_listenSock.load();
  const int port = g_port;
  Host("lan-item", 1);  // would call for all interfaces; only the re-check moves it
  EXPECT_TRUE(StartServerIfNeeded(nullptr));
  EXPECT_EQ(g_listenSock.load(), sock);
  EXPECT_EQ(g_port, port);
  ExpectBound(INADDR_LOOPBACK, port);
}

TEST_F(ListenerTest, FailedRebindStopsAndNextStartDrawsANewPort) {
  ShareFirst("inet-item", 0);
  const int port = g_port;
  // Another program takes the port on another loopback address, so binding
  // the port on all interfaces must fail.
  SOCKET occupier = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  ASSERT_NE(occupier, INVALID_SOCKET);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(0x7F000002);  // 127.0.0.2
  if (bind(occupier, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(occupier, 1) != 0) {
    closesocket(occupier);
    GTEST_SKIP() << "cannot occupy 127.0.0.2:" << port << " next to the server";
  }
  Host("lan-item", 1);
  RebindIfModeChanged();
  EXPECT_FALSE(g_serverRunning.load());
  EXPECT_EQ(g_listenSock.load(), INVALID_SOCKET);
  EXPECT_EQ(g_port, port);
  EXPECT_FALSE(g_listenAllIfaces.load());
  EXPECT_EQ(TestShell().LastStatus(), L"Server rebind failed. Stop all and restart sharing.");
  EXPECT_FALSE(HealthOk(port));
  RebindIfModeChanged();  // stopped: nothing happens
  EXPECT_FALSE(g_serverRunning.load());

  ASSERT_TRUE(StartServerIfNeeded(nullptr));
  EXPECT_NE(g_port, port);  // the probe sees the occupier on that port
  ExpectBound(INADDR_ANY, g_port);
  EXPECT_TRUE(HealthOk(g_port));
  closesocket(occupier);
}

TEST_F(ListenerTest, StopLeavesTheStoppedState) {
  ShareFirst("lan-item", 1);
  const int port = g_port;
  StopServer();
  EXPECT_FALSE(g_serverRunning.load());
  EXPECT_EQ(g_listenSock.load(), INVALID_SOCKET);
  EXPECT_EQ(g_port, 0);
  EXPECT_FALSE(g_listenAllIfaces.load());
  EXPECT_FALSE(g_serverThread.joinable());
  EXPECT_EQ(ConnectLoopback(port), INVALID_SOCKET);
  StopServer();  // a second stop does nothing
  EXPECT_EQ(g_port, 0);
}

// 64 silent clients fill every slot; the next connections get the 503 answer
// and an orderly end of stream (their request was read, so no reset).
TEST_F(ListenerTest, SixtyFifthConnectionIsRefusedCleanly) {
  ShareFirst("inet-item", 0);
  std::vector<SOCKET> held;
  for (int i = 0; i < kMaxConnections; ++i) {
    SOCKET s = ConnectLoopback(g_port);
    ASSERT_NE(s, INVALID_SOCKET) << i;
    held.push_back(s);
  }
  ASSERT_TRUE(WaitForConns(kMaxConnections));
  for (int i = 0; i < 3; ++i) {
    SOCKET s = ConnectLoopback(g_port);
    ASSERT_NE(s, INVALID_SOCKET);
    SendText(s, kHealthRequest);
    bool reset = true;
    const std::string answer = ReadAll(s, 5000, &reset);
    closesocket(s);
    EXPECT_EQ(answer, kExpected503);
    EXPECT_EQ(answer.size(), 148u);
    EXPECT_FALSE(reset);
  }
  EXPECT_EQ(g_activeConns.load(), kMaxConnections);

  closesocket(held.back());  // one slot frees up
  held.pop_back();
  ASSERT_TRUE(WaitForConns(kMaxConnections - 1));
  EXPECT_TRUE(HealthOk(g_port));
  for (SOCKET s : held) closesocket(s);
  EXPECT_TRUE(WaitForConns(0));
}

TEST_F(ListenerTest, StoppingDuringADownloadLetsItFinish) {
  TempDir dir;
  std::string content(16 << 20, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>((i * 131) >> 7);
  const std::wstring path = dir.Write(L"big.bin", content);
  ASSERT_TRUE(StartServerIfNeeded(nullptr));
  Host("big-file", 0, path, content.size());
  const int port = g_port;

  SOCKET s = ConnectLoopback(port);
  ASSERT_NE(s, INVALID_SOCKET);
  SendText(s, "GET /big-file?dl=1 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  char first[4096];
  const int n = static_cast<int>(recv(s, first, sizeof first, 0));
  ASSERT_GT(n, 0);
  StopServer();
  EXPECT_EQ(ConnectLoopback(port), INVALID_SOCKET);  // new connections are refused
  bool reset = true;
  const std::string answer = std::string(first, static_cast<size_t>(n)) + ReadAll(s, 10000, &reset);
  closesocket(s);
  EXPECT_FALSE(reset);
  const size_t head = answer.find("\r\n\r\n");
  ASSERT_NE(head, std::string::npos);
  EXPECT_EQ(answer.compare(0, 17, "HTTP/1.1 200 OK\r\n"), 0);
  EXPECT_TRUE(answer.compare(head + 4, std::string::npos, content) == 0)
      << "body of " << answer.size() - head - 4 << " bytes";
}

// A helper program started with handle inheritance (the tunnel client) must
// not keep the server's listening socket, or the port stays taken after a stop.
bool Inheritable(SOCKET s) {
#ifdef _WIN32
  DWORD flags = 0;
  return GetHandleInformation(reinterpret_cast<HANDLE>(s), &flags) &&
         (flags & HANDLE_FLAG_INHERIT) != 0;
#else
  return (fcntl(s, F_GETFD) & FD_CLOEXEC) == 0;
#endif
}

TEST_F(ListenerTest, ListeningSocketIsNotInherited) {
  ShareFirst("inet-item", 0);
  EXPECT_FALSE(Inheritable(g_listenSock.load()));
  Host("lan-item", 1);
  RebindIfModeChanged();
  EXPECT_FALSE(Inheritable(g_listenSock.load()));
}

// CPU time of the whole process in seconds (the C library's clock() is wall
// time on Windows).
double ProcessCpuSeconds() {
#ifdef _WIN32
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  auto value = [](const FILETIME& t) {
    return (static_cast<uint64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 1e7;
  };
  return value(kernel) + value(user);
#else
  return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
#endif
}

// accept failing over and over (here: the socket does not listen) must not
// spin: the loop pauses between attempts. A spinning loop burns about a
// second of CPU time in this second; a pausing one next to nothing.
TEST_F(ListenerTest, PersistentAcceptFailureDoesNotSpin) {
  SOCKET dead = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  ASSERT_NE(dead, INVALID_SOCKET);
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
