// Suites that wait on the real time limits: the request head's 15 seconds and
// the transfer floor's 60-second window.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <vector>

#include "http/listener.h"
#include "http_test_util.h"
#include "test_util.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

TEST(HandlerTimeouts, SilentClientsAreDroppedWithoutAnAnswer) {
  ClearHosted();
  TempDir dir;
  HostItem("abc", dir.Write(L"t.txt", "t"), "t.txt", 1);
  for (const std::string& sent : {std::string(), std::string("GET /abc HTTP/1.1\nHost: x\n\n")}) {
    LoopbackPair p = MakeLoopbackPair();
    ASSERT_NE(p.client, INVALID_SOCKET);
    const auto t0 = Clock::now();
    std::thread server(HandleClient, p.server, nullptr);
    SendText(p.client, sent);
    bool reset = true;
    const std::string answer = ReadAll(p.client, 30000, &reset);
    const auto waited = Clock::now() - t0;
    EXPECT_EQ(answer, "");
    EXPECT_FALSE(reset);
    EXPECT_GE(waited, 14s);
    EXPECT_LT(waited, 29s);  // closed by the server, not our own time-out
    closesocket(p.client);
    server.join();
  }
  ClearHosted();
}

// Every slot held by a client that sends one byte of its head every 10 s:
// the head's overall deadline frees them all, and a recipient arriving 16 s
// later is served instead of getting the 503 answer.
TEST(HandlerTimeouts, TricklingHeadsFreeEverySlot) {
  ClearHosted();
  ASSERT_TRUE(StartServerIfNeeded(nullptr));
  std::vector<SOCKET> tricklers;
  for (int i = 0; i < kMaxConnections; ++i) {
    const SOCKET s = ConnectLoopback(g_port);
    ASSERT_NE(s, INVALID_SOCKET) << i;
    tricklers.push_back(s);
  }
  ASSERT_TRUE(WaitUntil([] { return g_activeConns.load() == kMaxConnections; }, 10000));
  const auto t0 = Clock::now();
  for (const char* piece : {"G", "E"}) {
    for (SOCKET s : tricklers) SendText(s, piece);
    std::this_thread::sleep_until(t0 + 10s);
  }
  std::this_thread::sleep_until(t0 + 16s);
  const SOCKET late = ConnectLoopback(g_port);
  ASSERT_NE(late, INVALID_SOCKET);
  SendText(late, "GET /__vhhealth HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  const std::string answer = ReadAll(late, 5000);
  closesocket(late);
  EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << answer;
  for (SOCKET s : tricklers) {
    EXPECT_EQ(ReadAll(s, 1000), "");  // dropped without an answer
    closesocket(s);
  }
  StopServer();
  EXPECT_TRUE(WaitUntil([] { return g_activeConns.load() == 0; }, 10000));
}

// Readers of one 5 MiB download, side by side. Slow but steady links keep
// their connections for as long as they need (the slower one takes less
// than the socket buffers hold in a minute, so only the bytes the peer took
// show its progress); a reader that stops is dropped once the floor's
// window has passed.
TEST(HandlerTimeouts, TransferFloorKeepsSlowLinksAndDropsStalledOnes) {
  ClearHosted();
  TempDir dir;
  const std::string body = Pattern(5u << 20);
  auto item = HostItem("abc", dir.Write(L"big.bin", body), "big.bin", body.size());
  const struct {
    const char* label;
    size_t bytesPerSecond;  // 0: reads nothing after the first bytes
    Clock::duration slowFor;
    bool completes;
  } cases[] = {
      {"steady 64 KiB/s", 64u << 10, 120s, true},
      {"4 KiB/s for 75 s, then at full speed", 4u << 10, 75s, true},
      {"stops reading", 0, 0s, false},
  };
  struct Run {
    std::thread server, reader;
    std::atomic<bool> served{false};
    std::string got;
    Clock::duration serverTook{};
  };
  std::vector<Run> runs(std::size(cases));
  const auto t0 = Clock::now();
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    Run& r = runs[i];
    LoopbackPair p = MakeLoopbackPair();
    ASSERT_NE(p.client, INVALID_SOCKET);
    r.server = std::thread([&r, s = p.server, t0] {
      HandleClient(s, nullptr);
      r.serverTook = Clock::now() - t0;
      r.served = true;
    });
    SendText(p.client, "GET /abc?dl=1 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    r.reader = std::thread([&r, &c, client = p.client, t0, total = body.size() + 200] {
      char buf[65536];
      if (c.bytesPerSecond == 0) {
        recv(client, buf, sizeof buf, 0);
        WaitUntil([&r] { return r.served.load(); }, 120000, 100);
      } else {
        const size_t perTick = c.bytesPerSecond / 8;
        auto tick = t0;
        while (Clock::now() - t0 < c.slowFor && r.got.size() < total) {
          tick += 125ms;
          std::this_thread::sleep_until(tick);
          size_t want = perTick;
          while (want > 0) {
            const int n = static_cast<int>(recv(client, buf, static_cast<int>(want), 0));
            if (n <= 0) break;
            r.got.append(buf, static_cast<size_t>(n));
            want -= static_cast<size_t>(n);
          }
          if (want > 0) break;  // the server ended the connection
        }
        r.got += ReadAll(client, 10000);
      }
      closesocket(client);
    });
  }
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].label);
    runs[i].reader.join();
    runs[i].server.join();
    const std::string& got = runs[i].got;
    if (cases[i].completes) {
      const size_t head = got.find("\r\n\r\n");
      ASSERT_NE(head, std::string::npos);
      EXPECT_EQ(got.size() - head - 4, body.size());
      EXPECT_TRUE(got.compare(head + 4, std::string::npos, body) == 0);
    } else {
      EXPECT_LT(runs[i].serverTook, 100s);
    }
  }
  EXPECT_GT(runs[1].serverTook, 70s);  // the slower link outlived the floor's window
  EXPECT_EQ(item->downloads.load(), 2);
  ClearHosted();
}

}  // namespace
