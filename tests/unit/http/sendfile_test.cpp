#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "http_test_util.h"
#include "net_client.h"
#include "platform/file.h"
#include "platform/sendfile.h"
#ifndef _WIN32
#include <fcntl.h>
#endif

namespace {

// Sends [offset, offset + len) of h to s the way the server does, call after
// call; returns the bytes sent, or -1 on the first failure.
int64_t SendRange(SOCKET s, FileHandle h, uint64_t offset, uint64_t len) {
  PrepareFileSendSocket(s);
  char buf[4096];
  int64_t total = 0;
  while (len > 0) {
    const int64_t n = SendFileToSocket(s, h, offset, len, buf, sizeof buf);
    if (n <= 0) return n < 0 ? -1 : total;
    offset += static_cast<uint64_t>(n);
    len -= static_cast<uint64_t>(n);
    total += n;
  }
  return total;
}

TEST(SendFileSeam, SendsExactlyTheRangeAndLeavesTheSocketAsItWas) {
  TempDir dir;
  const std::string content = Pattern(3u << 20);  // several calls' worth
  ScopedFile f(OpenFileShareRead(dir.Write(L"data.bin", content)));
  ASSERT_TRUE(f.valid());
  struct Case {
    uint64_t offset, len;
  };
  for (const Case c : {Case{0, 1}, Case{0, content.size()}, Case{4095, 262145},
                       Case{content.size() - 7, 7}, Case{123457, 1u << 20}}) {
    LoopbackPair p = MakeLoopbackPair();
    ASSERT_NE(p.client, INVALID_SOCKET);
    std::string got;
    std::thread reader([&] { got = ReadAll(p.client, 10000); });
    EXPECT_EQ(SendRange(p.server, f.get(), c.offset, c.len), static_cast<int64_t>(c.len));
#ifndef _WIN32
    EXPECT_EQ(fcntl(p.server, F_GETFL) & O_NONBLOCK, 0) << "offset " << c.offset;
#endif
    closesocket(p.server);
    reader.join();
    closesocket(p.client);
    EXPECT_TRUE(got == content.substr(c.offset, c.len)) << "offset " << c.offset << " len " << c.len;
  }
}

TEST(SendFileSeam, NothingAtTheOffsetGivesZero) {
  TempDir dir;
  ScopedFile f(OpenFileShareRead(dir.Write(L"short.bin", "0123456789")));
  ASSERT_TRUE(f.valid());
  LoopbackPair p = MakeLoopbackPair();
  ASSERT_NE(p.client, INVALID_SOCKET);
  char buf[64];
  EXPECT_EQ(SendFileToSocket(p.server, f.get(), 10, 5, buf, sizeof buf), 0);
  EXPECT_EQ(SendFileToSocket(p.server, f.get(), 8, 5, buf, sizeof buf), 2);
  closesocket(p.server);
  EXPECT_EQ(ReadAll(p.client), "89");
  closesocket(p.client);
}

TEST(SendFileSeam, ReaderThatLeavesFailsTheSend) {
  TempDir dir;
  const std::string content = Pattern(8u << 20);
  ScopedFile f(OpenFileShareRead(dir.Write(L"big.bin", content)));
  ASSERT_TRUE(f.valid());
  LoopbackPair p = MakeLoopbackPair();
  ASSERT_NE(p.client, INVALID_SOCKET);
  SetSendTimeoutMs(p.server, 10000);
  std::thread leaver([&] {
    char b[1000];
    recv(p.client, b, sizeof b, 0);
    closesocket(p.client);  // unread data pending: the close resets the connection
  });
  EXPECT_EQ(SendRange(p.server, f.get(), 0, content.size()), -1);
  leaver.join();
  closesocket(p.server);
}

#ifdef __linux__
// A reader that stops reading: the send gives up after the socket's send
// time-out instead of waiting for ever, and the socket is blocking again.
TEST(SendFileSeam, StalledReaderEndsAtTheSendTimeOut) {
  TempDir dir;
  const std::string content = Pattern(32u << 20);  // far more than the socket buffers hold
  ScopedFile f(OpenFileShareRead(dir.Write(L"big.bin", content)));
  ASSERT_TRUE(f.valid());
  LoopbackPair p = MakeLoopbackPair();
  ASSERT_NE(p.client, INVALID_SOCKET);
  SetSendTimeoutMs(p.server, 1000);
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(SendRange(p.server, f.get(), 0, content.size()), -1);
  EXPECT_EQ(errno, ETIMEDOUT);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(900));
  EXPECT_EQ(fcntl(p.server, F_GETFL) & O_NONBLOCK, 0);
  closesocket(p.server);
  closesocket(p.client);
}
#endif

}  // namespace
