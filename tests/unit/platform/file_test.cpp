#include <gtest/gtest.h>

#include "net_client.h"
#include "platform/file.h"

namespace {

TEST(FileSeam, OpenSizeSeekReadAndClose) {
  TempDir dir;
  const std::wstring p = dir.Write(L"data.bin", "0123456789");
  ScopedFile f(OpenFileShareRead(p));
  ASSERT_TRUE(f.valid());
  uint64_t size = 0;
  ASSERT_TRUE(GetFileSizeByHandle(f.get(), size));
  EXPECT_EQ(size, 10u);
  ASSERT_TRUE(SeekFileHandle(f.get(), 7));
  char buf[8] = {};
  EXPECT_EQ(ReadFileHandle(f.get(), buf, sizeof buf), 3);
  EXPECT_EQ(std::string(buf, 3), "789");
  EXPECT_EQ(ReadFileHandle(f.get(), buf, sizeof buf), 0);
}

TEST(FileSeam, MissingFileAndFolderAreNotOpened) {
  TempDir dir;
  EXPECT_EQ(OpenFileShareRead(dir.File(L"missing.txt")), kInvalidFileHandle);
  EXPECT_EQ(OpenFileShareRead(dir.path()), kInvalidFileHandle);
}

TEST(FileSeam, DeleteRemovesTheFile) {
  TempDir dir;
  const std::wstring p = dir.Write(L"gone.txt", "x");
  EXPECT_TRUE(DeleteFilePath(p));
  EXPECT_FALSE(PathExists(p));
  EXPECT_FALSE(DeleteFilePath(p));
}

}  // namespace
