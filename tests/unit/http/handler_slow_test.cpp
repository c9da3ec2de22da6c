// The head's real 15 s and the transfer floor's 60 s window, side by side so the run waits once.
#include <gtest/gtest.h>

#include "http/listener.h"
#include "http_test_util.h"
#include "test_util.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Reader {
  Reader(size_t bps, Clock::duration d) : bytesPerSecond(bps), slowFor(d) {}
  size_t bytesPerSecond;  // 0: reads nothing after the first bytes
  Clock::duration slowFor;  // then the rest at full speed
  std::thread server, reader;
  std::atomic<bool> served{false};
  std::string got;
  Clock::duration serverTook{};
};

void ReadSlowly(Reader& r, SOCKET client, Clock::time_point t0, size_t total) {
  char buf[65536];
  if (r.bytesPerSecond == 0) {
    recv(client, buf, sizeof buf, 0);
    WaitUntil([&r] { return r.served.load(); }, 120000, 100);
  } else {
    auto tick = t0;
    for (size_t want = 0; Clock::now() - t0 < r.slowFor && r.got.size() < total && !want;) {
      std::this_thread::sleep_until(tick += 125ms);
      for (want = r.bytesPerSecond / 8; want > 0;) {
        const int n = static_cast<int>(recv(client, buf, static_cast<int>(want), 0));
        if (n <= 0) break;  // the server ended the connection
        r.got.append(buf, static_cast<size_t>(n));
        want -= static_cast<size_t>(n);
      }
    }
    r.got += ReadAll(client, 10000);
  }
  closesocket(client);
}

TEST(HandlerTimeouts, SlowHeadsAreDroppedSlowLinksKeptStalledOnesDropped) {
  TempDir dir;
  const std::string body = Pattern(5u << 20);
  auto item = HostItem("abc", dir.Write(L"big.bin", body), body.size());
  const auto t0 = Clock::now();

  // Steady links keep the connection (the slower takes less in a minute than the socket
  // buffers hold: only bytes the peer took count); a reader that stops is dropped.
  Reader runs[] = {{64u << 10, 120s}, {4u << 10, 75s}, {0, 0s}};
  for (Reader& r : runs) {
    LoopbackPair p = MakeLoopbackPair();
    r.server = std::thread([&r, s = p.server, t0] {
      HandleClient(s, nullptr);
      r.serverTook = Clock::now() - t0;
      r.served = true;
    });
    SendText(p.client, Get("/abc?dl=1"));
    r.reader = std::thread(ReadSlowly, std::ref(r), p.client, t0, body.size() + 200);
  }

  // A silent client is dropped without an answer after 15 s (LF-only heads: CheckHead's rows).
  std::thread head([t0] {
    Exchange ex("", nullptr);
    ex.Finish(30000);
    EXPECT_TRUE(ex.answer.empty() && !ex.reset);
    EXPECT_GE(Clock::now() - t0, 14s);
    EXPECT_LT(Clock::now() - t0, 25s);  // closed by the server, not by our time-out
  });

  // Every slot held by a byte every 10 s is freed by the head's overall deadline.
  EXPECT_TRUE(StartServerIfNeeded(nullptr));  // no early return: threads run
  std::vector<SOCKET> tricklers;
  for (int i = 0; i < kMaxConnections; ++i) tricklers.push_back(ConnectLoopback(g_port));
  EXPECT_TRUE(WaitUntil([] { return g_activeConns.load() == kMaxConnections; }, 10000));
  const auto t1 = Clock::now();
  for (const char* piece : {"G", "E"}) {
    for (SOCKET s : tricklers) SendText(s, piece);
    std::this_thread::sleep_until(t1 + 10s);
  }
  std::this_thread::sleep_until(t1 + 16s);
  EXPECT_TRUE(Fetch(g_port, Get("/__vhhealth")).starts_with("HTTP/1.1 200 OK\r\n"));
  for (SOCKET s : tricklers) {
    EXPECT_EQ(ReadAll(s, 1000), "");
    closesocket(s);
  }
  StopServer();
  EXPECT_TRUE(WaitUntil([] { return g_activeConns.load() == 0; }, 10000));

  head.join();
  for (Reader& r : runs) r.reader.join(), r.server.join();
  for (int i = 0; i < 2; ++i) EXPECT_TRUE(runs[i].got.ends_with("\r\n\r\n" + body)) << i;
  EXPECT_GT(runs[1].serverTook, 70s);  // the slower link outlived the floor's window
  EXPECT_LT(runs[2].serverTook, 100s);
  EXPECT_EQ(item->downloads.load(), 2);
  ClearHosted();
}

}  // namespace
