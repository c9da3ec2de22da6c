// The item's share-read lock keeps writers and deleters out for as long as the
// item lives, also after it left the registry during a transfer, and lets the
// server's own reads in.
#include <gtest/gtest.h>
#include <windows.h>

#include "http_test_util.h"

namespace {

bool CanOpen(const std::wstring& path, DWORD access) {
  HANDLE h = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  FILETIME later{0x10000000, 0x01DB0000};  // times need no write access: the bytes stay
  if (access == FILE_WRITE_ATTRIBUTES) SetFileTime(h, nullptr, nullptr, &later);
  CloseHandle(h);
  return true;
}

TEST(HostedLock, WritersWaitUntilTheLastTransferEnds) {
  TempDir dir;
  const std::string body = Pattern(16u << 20);
  const std::wstring path = dir.Write(L"locked.bin", body);
  std::weak_ptr<HostedItem> weak = HostItem("abc", path, "locked.bin", body.size());
  EXPECT_FALSE(CanOpen(path, GENERIC_WRITE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(DeleteFileW(path.c_str()));
  CanOpen(path, FILE_WRITE_ATTRIBUTES);
  EXPECT_TRUE(Ask(Get("/abc?dl=1")).Body() == body);

  Exchange ex(Get("/abc?dl=1"), nullptr, 65536);
  ClearHosted();
  EXPECT_FALSE(weak.expired());
  EXPECT_FALSE(CanOpen(path, GENERIC_WRITE));
  EXPECT_TRUE(ex.Finish().Body() == body);
  EXPECT_TRUE(weak.expired());
  EXPECT_TRUE(CanOpen(path, GENERIC_WRITE));
  CountDownloadDone(0, 0);
}

}  // namespace
