#include <gtest/gtest.h>

#include "net_client.h"
#include "platform/file.h"

namespace {

TEST(FileSeam, OpenReadAtOffsetsAndDelete) {
  TempDir dir;
  const std::wstring p = dir.Write(L"data.bin", "0123456789");
  {
    ScopedFile f(OpenFileShareRead(p));
    ASSERT_TRUE(f.valid());
    uint64_t size = 0;
    ASSERT_TRUE(GetFileSizeByHandle(f.get(), size));
    EXPECT_EQ(size, 10u);
    char buf[8] = {};
    EXPECT_EQ(ReadFileAt(f.get(), 7, buf, sizeof buf), 3);
    EXPECT_EQ(std::string(buf, 3), "789");
    EXPECT_EQ(ReadFileAt(f.get(), 10, buf, sizeof buf), 0);
    EXPECT_EQ(ReadFileAt(f.get(), 2, buf, 2), 2);  // the offset, not a position, counts
    EXPECT_EQ(std::string(buf, 2), "23");
  }
  EXPECT_EQ(OpenFileShareRead(dir.File(L"missing.txt")), kInvalidFileHandle);
  EXPECT_EQ(OpenFileShareRead(dir.path()), kInvalidFileHandle);
  EXPECT_TRUE(DeleteFilePath(p));
  EXPECT_FALSE(PathExists(p));
  EXPECT_FALSE(DeleteFilePath(p));
}

}  // namespace
