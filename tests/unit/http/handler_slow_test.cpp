// Suites that wait on the 15-second receive time-out.
#include <gtest/gtest.h>

#include <chrono>

#include "http_test_util.h"

namespace {

TEST(HandlerTimeouts, SilentClientsAreDroppedWithoutAnAnswer) {
  ClearHosted();
  TempDir dir;
  HostItem("abc", dir.Write(L"t.txt", "t"), "t.txt", 1);
  for (const std::string& sent : {std::string(), std::string("GET /abc HTTP/1.1\nHost: x\n\n")}) {
    LoopbackPair p = MakeLoopbackPair();
    ASSERT_NE(p.client, INVALID_SOCKET);
    const auto t0 = std::chrono::steady_clock::now();
    std::thread server(HandleClient, p.server, nullptr);
    SendText(p.client, sent);
    bool reset = true;
    const std::string answer = ReadAll(p.client, 30000, &reset);
    const auto waited = std::chrono::steady_clock::now() - t0;
    EXPECT_EQ(answer, "");
    EXPECT_FALSE(reset);
    EXPECT_GE(waited, std::chrono::seconds(14));
    EXPECT_LT(waited, std::chrono::seconds(29));  // closed by the server, not our own time-out
    closesocket(p.client);
    server.join();
  }
  ClearHosted();
}

}  // namespace
