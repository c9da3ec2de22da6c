// The head's real 15 s and the transfer floor's 60 s window, side by side so the run waits once.
#include <gtest/gtest.h>

#include "http/listener.h"
#include "http_test_util.h"
#include "test_util.h"

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

TEST(HandlerTimeouts, SlowHeadsAreDroppedSlowLinksKeptStalledOnesDropped) {
  TempDir dir;
  const std::string body = Pattern(5u << 20);
  auto item = HostItem("abc", dir.Write(L"big.bin", body), body.size());
  const auto t0 = Clock::now();
  // A 4 KiB/s link (less than the buffers hold: only bytes taken count) is kept for 75 s, a stalled reader dropped.
  struct { std::string got; Clock::duration took{}; std::atomic<bool> ended{false}; } links[2];
  std::vector<std::thread> threads;
  for (int i = 0; i < 2; ++i) {
    LoopbackPair p = MakeLoopbackPair();
    threads.emplace_back([&, i, s = p.server] {
      HandleClient(s, nullptr);
      links[i].took = Clock::now() - t0, links[i].ended = true;
    });
    SendText(p.client, Get("/abc?dl=1"));
    threads.emplace_back([&, i, c = p.client] {
      char buf[512];
      for (auto tick = t0; Clock::now() - t0 < 75s;) {  // the stalled reader stops after its first bytes
        std::this_thread::sleep_until(tick += 125ms);
        const int n = static_cast<int>(recv(c, buf, sizeof buf, 0));
        if (n <= 0 || i == 1) break;  // n <= 0: the server ended the connection
        links[i].got.append(buf, static_cast<size_t>(n));
      }
      if (i == 0) links[0].got += ReadAll(c, 10000);
      else WaitUntil([&] { return links[1].ended.load(); }, 120000, 100);
      closesocket(c);
    });
  }
  // 64 heads, a byte every 10 s, wait without a thread and are closed, without an answer, at 15 s.
  EXPECT_EQ(StartServerIfNeeded(nullptr, AnyHostedInMode(ShareMode::kLan)), ServerStart::kRunning);  // no early return: threads run
  std::vector<SOCKET> tricklers;
  for (int i = 0; i < kMaxConnections; ++i) tricklers.push_back(ConnectLoopback(ServerPort()));
  EXPECT_TRUE(WaitUntil([] { return WaitingConnectionCount() == kMaxConnections; }, 10000));
  const auto t1 = Clock::now();
  for (const char* piece : {"G", "E"}) {
    for (SOCKET s : tricklers) SendText(s, piece);
    std::this_thread::sleep_until(t1 + 10s);
  }
  std::this_thread::sleep_until(t1 + 13s);
  EXPECT_TRUE(Fetch(ServerPort(), Get("/__vhhealth")).starts_with("HTTP/1.1 200 OK\r\n"));
  EXPECT_EQ(WaitingConnectionCount(), kMaxConnections);
  EXPECT_TRUE(WaitUntil([] { return ActiveConnectionCount() == 0; }));
  std::this_thread::sleep_until(t1 + 16s);
  EXPECT_EQ(WaitingConnectionCount(), 0);
  for (SOCKET s : tricklers) EXPECT_EQ(ReadAll(s, 1000), ""), closesocket(s);
  StopServer();
  EXPECT_TRUE(WaitUntil([] { return ActiveConnectionCount() == 0; }, 10000));
  for (auto& t : threads) t.join();
  EXPECT_TRUE(links[0].got.ends_with("\r\n\r\n" + body)) << links[0].got.size();
  EXPECT_GT(links[0].took, 70s);  // the slow link outlived the floor's window
  EXPECT_LT(links[1].took, 100s);
  EXPECT_EQ(item->downloads.load(), 1);
  ClearHosted();
}
