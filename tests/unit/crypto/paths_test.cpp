// vh::paths on real files in a scratch folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "crypto/paths.h"
#include "net_client.h"
#include "platform/module.h"

namespace {

namespace paths = vh::paths;
using Bytes = std::vector<uint8_t>;

TEST(Paths, OverriddenFolderIsCreatedOnceAndReused) {
  TempDir tmp;
  const std::wstring dir = tmp.File(L"Vorn-Hale");
  paths::SetAppDataDirForTest(dir);
  EXPECT_EQ(paths::Join(dir, L"k"), dir + kPathSeparator + L"k");
  EXPECT_EQ(paths::EnsureAppDataDir(), dir);  // new
  EXPECT_EQ(paths::EnsureAppDataDir(), dir);  // already there
  EXPECT_TRUE(PathExists(dir));
  paths::SetAppDataDirForTest(paths::Join(paths::Join(tmp.File(L"a"), L"b").c_str(), L"c"));
  EXPECT_EQ(paths::EnsureAppDataDir(), L"");
  paths::SetAppDataDirForTest(tmp.Write(L"file", "x"));  // a file in the way
  EXPECT_EQ(paths::EnsureAppDataDir(), L"");
  paths::SetAppDataDirForTest(L"");
}

TEST(Paths, WriteReplacesAndLeavesNoTemporaryFile) {
  TempDir tmp;
  const std::wstring file = tmp.File(L"f.bin");
  Bytes back;
  for (const Bytes& data : {Bytes{0xDE, 0xAD, 0xBE, 0xEF, 0x42}, Bytes{1, 2}, Bytes{}}) {
    ASSERT_TRUE(paths::WriteFileOwnerOnly(file, data.data(), data.size()));
    ASSERT_TRUE(paths::ReadFileAll(file, back));
    EXPECT_EQ(back, data);
    EXPECT_FALSE(PathExists(file + L".tmp"));
  }
}

TEST(Paths, ReadLimitIsOneMebibyte) {
  TempDir tmp;
  for (const size_t size : {size_t{1048576}, size_t{1048577}}) {
    Bytes out = {7};
    EXPECT_EQ(paths::ReadFileAll(tmp.Write(L"f" + std::to_wstring(size), std::string(size, 'z')), out),
              size == 1048576);
    EXPECT_EQ(out.size(), size == 1048576 ? size : 1u);  // untouched on failure
  }
  Bytes out;
  EXPECT_FALSE(paths::ReadFileAll(tmp.File(L"missing"), out));
  EXPECT_FALSE(paths::ReadFileAll(tmp.path(), out));  // a folder
}

TEST(Paths, FailedRenameRemovesTemporaryFile) {
  // The target name is taken by a folder: the move fails after the write.
  TempDir tmp;
  const std::wstring target = tmp.File(L"identity.key");
  ASSERT_TRUE(std::filesystem::create_directory(std::filesystem::path(target)));
  const std::wstring kept = tmp.Write(paths::Join(L"identity.key", L"child"), "keep");
  const Bytes data(64, 0x11);
  EXPECT_FALSE(paths::WriteFileOwnerOnly(target, data.data(), data.size()));
  EXPECT_FALSE(PathExists(target + L".tmp"));
  EXPECT_EQ(ReadWholeFile(kept), "keep");
  EXPECT_FALSE(paths::WriteFileOwnerOnly(paths::Join(tmp.File(L"no-such"), L"f"), data.data(), 1));
}

}  // namespace
