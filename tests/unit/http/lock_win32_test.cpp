// The item's share-read lock keeps writers and deleters out for as long as the
// item lives, also after it left the registry while a transfer still runs,
// and lets the server's own reads in.
#include <gtest/gtest.h>

#include "http_test_util.h"

#include <windows.h>

namespace {

bool CanOpenForWriting(const std::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

TEST(HostedLock, WritersWaitUntilTheLastTransferEnds) {
  ClearHosted();
  TempDir dir;
  const size_t size = 16u << 20;
  const std::string body = Pattern(size);
  const std::wstring path = dir.Write(L"locked.bin", body);
  std::weak_ptr<HostedItem> weak = HostItem("abc", path, "locked.bin", size);
  ASSERT_FALSE(weak.expired());
  ASSERT_NE(weak.lock()->fileHandle, kInvalidFileHandle);

  EXPECT_FALSE(CanOpenForWriting(path));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(DeleteFileW(path.c_str()));

  // Setting the times needs no write access, so the lock lets it through; the
  // bytes stay as shared and the server still sends them.
  HANDLE attrs = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (attrs != INVALID_HANDLE_VALUE) {
    FILETIME later{0x10000000, 0x01DB0000};
    SetFileTime(attrs, nullptr, nullptr, &later);
    CloseHandle(attrs);
  }

  // The server reads the locked file.
  const Exchange whole = Ask("GET /abc?dl=1 HTTP/1.1\r\n\r\n");
  ASSERT_GT(whole.answer.size(), size);
  EXPECT_TRUE(whole.answer.substr(whole.answer.size() - size) == body);

  LoopbackPair p = MakeLoopbackPair();
  ASSERT_NE(p.client, INVALID_SOCKET);
  std::thread server(HandleClient, p.server, nullptr);
  SendText(p.client, "GET /abc?dl=1 HTTP/1.1\r\n\r\n");
  std::string got = ReadAll(p.client, 5000, nullptr, 65536);
  ClearHosted();
  EXPECT_FALSE(weak.expired());
  EXPECT_FALSE(CanOpenForWriting(path));
  got += ReadAll(p.client, 10000);
  closesocket(p.client);
  server.join();
  EXPECT_TRUE(weak.expired());
  EXPECT_EQ(got.size() - got.find("\r\n\r\n") - 4, size);
  EXPECT_TRUE(CanOpenForWriting(path));
  CountDownloadDone(0, 0);
}

}  // namespace
