// The item's lock on Windows: a file someone is writing cannot be shared, and
// a shared file can be read by others but neither written nor deleted until
// its item is gone.
#include <windows.h>

#include "recording_shell.h"

namespace {

HANDLE Open(const std::wstring& path, DWORD access, DWORD share) {
  return CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}

bool CanOpen(const std::wstring& path, DWORD access) {
  HANDLE h = Open(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

using ShareLockTest = ShareTest;

TEST_F(ShareLockTest, FileOpenForWritingIsRefused) {
  TempDir dir;
  const std::wstring f = dir.Write(L"busy.txt", "busy");
  HANDLE writer = Open(f, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(AddPath(f, 1, "", hwnd_));
  ExpectBox(L"Cannot lock the file for sharing. Close it in any other app and try again.",
               kMbIconError);
  EXPECT_EQ(HostedCount(), 0u);
  CloseHandle(writer);
  TestShell().Clear();
  EXPECT_TRUE(AddPath(f, 1, "", hwnd_));
  ExpectNoBox();
}

TEST_F(ShareLockTest, SharedFileIsReadableButNotWritableOrDeletable) {
  TempDir dir;
  const std::wstring f = dir.Write(L"locked.txt", "locked");
  ASSERT_TRUE(AddPath(f, 1, "", hwnd_));
  ASSERT_TRUE(AddPath(f, 1, "", hwnd_));  // each lock lets other readers in
  HANDLE reader = Open(f, GENERIC_READ, FILE_SHARE_READ);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE);
  if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
  EXPECT_FALSE(CanOpen(f, GENERIC_WRITE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(DeleteFileW(f.c_str()));
  EXPECT_EQ(FetchBody(Item(1)->slug), "locked");

  ClearHosted();
  EXPECT_TRUE(WaitUntil([&] { return CanOpen(f, GENERIC_WRITE); }));
}

}  // namespace
