// vh::paths on real files in a scratch folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "crypto/paths.h"
#include "platform/module.h"
#include "net_client.h"

namespace {

namespace paths = vh::paths;
using Bytes = std::vector<uint8_t>;

TEST(Paths, JoinUsesTheSystemSeparator) {
  const std::wstring sep(kPathSeparator);
  EXPECT_EQ(paths::Join(L"dir", L"identity.key"), L"dir" + sep + L"identity.key");
}

TEST(Paths, OverriddenFolderIsCreatedOnceAndReused) {
  TempDir tmp;
  const std::wstring dir = tmp.File(L"Vorn-Hale");
  paths::SetAppDataDirForTest(dir);
  EXPECT_EQ(paths::AppDataDir(), dir);
  EXPECT_FALSE(PathExists(dir));
  EXPECT_EQ(paths::EnsureAppDataDir(), dir);  // new
  EXPECT_TRUE(PathExists(dir));
  EXPECT_EQ(paths::EnsureAppDataDir(), dir);  // already there
  // Only one missing level is created: a deeper path fails.
  paths::SetAppDataDirForTest(tmp.File(L"a") + kPathSeparator + L"b" + kPathSeparator + L"c");
  EXPECT_EQ(paths::EnsureAppDataDir(), L"");
  // A regular file in the way.
  paths::SetAppDataDirForTest(tmp.Write(L"file", "x"));
  EXPECT_EQ(paths::EnsureAppDataDir(), L"");
  paths::SetAppDataDirForTest(L"");
}

TEST(Paths, WriteThenReadBackLeavesNoTemporaryFile) {
  TempDir tmp;
  const std::wstring file = tmp.File(L"_selftest.bin");
  const Bytes data = {0xDE, 0xAD, 0xBE, 0xEF, 0x42};
  ASSERT_TRUE(paths::WriteFileOwnerOnly(file, data.data(), data.size()));
  EXPECT_FALSE(PathExists(file + L".tmp"));
  Bytes back;
  ASSERT_TRUE(paths::ReadFileAll(file, back));
  EXPECT_EQ(back, data);

  // Replacing: shorter content, and then an empty file.
  const Bytes shorter = {1, 2};
  ASSERT_TRUE(paths::WriteFileOwnerOnly(file, shorter.data(), shorter.size()));
  ASSERT_TRUE(paths::ReadFileAll(file, back));
  EXPECT_EQ(back, shorter);
  ASSERT_TRUE(paths::WriteFileOwnerOnly(file, nullptr, 0));
  ASSERT_TRUE(paths::ReadFileAll(file, back));
  EXPECT_TRUE(back.empty());
  EXPECT_FALSE(PathExists(file + L".tmp"));
}

TEST(Paths, ReadLimitIsOneMebibyte) {
  TempDir tmp;
  struct Case {
    size_t size;
    bool ok;
  };
  for (const Case c : {Case{0, true}, Case{1048576, true}, Case{1048577, false}}) {
    const std::wstring file = tmp.Write(L"f" + std::to_wstring(c.size), std::string(c.size, 'z'));
    Bytes out = {7, 7, 7};
    EXPECT_EQ(paths::ReadFileAll(file, out), c.ok) << c.size;
    if (c.ok) {
      EXPECT_EQ(out.size(), c.size);
    } else {
      EXPECT_EQ(out, (Bytes{7, 7, 7})) << "out must stay untouched";
    }
  }
  Bytes out;
  EXPECT_FALSE(paths::ReadFileAll(tmp.File(L"missing"), out));
  EXPECT_FALSE(paths::ReadFileAll(tmp.path(), out));  // a folder
}

TEST(Paths, FailedRenameRemovesTemporaryFile) {
  // The target name is taken by a folder: the temporary file is written, the
  // move over the folder fails, and the temporary file must go again.
  TempDir tmp;
  const std::wstring target = tmp.File(L"identity.key");
  const std::wstring inner = tmp.Write(L"placeholder", "x");
  ASSERT_TRUE(PathExists(inner));
  std::error_code ec;
  ASSERT_TRUE(std::filesystem::create_directory(std::filesystem::path(target), ec));
  const std::wstring kept = tmp.Write(std::wstring(L"identity.key") + kPathSeparator + L"child", "keep");
  const Bytes data(64, 0x11);
  EXPECT_FALSE(paths::WriteFileOwnerOnly(target, data.data(), data.size()));
  EXPECT_FALSE(PathExists(target + L".tmp"));
  EXPECT_EQ(ReadWholeFile(kept), "keep");
}

TEST(Paths, UncreatableTemporaryFileFails) {
  TempDir tmp;
  const Bytes data = {1};
  EXPECT_FALSE(paths::WriteFileOwnerOnly(tmp.File(L"no-such-folder") + kPathSeparator + L"f",
                                         data.data(), data.size()));
}

}  // namespace
