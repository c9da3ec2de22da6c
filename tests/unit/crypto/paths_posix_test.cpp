// POSIX side of vh::paths: the XDG folder, file modes, durability failures.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "crypto/paths.h"
#include "net_client.h"
#include "platform/text.h"
#include "test_util.h"

namespace {

namespace paths = vh::paths;
using Bytes = std::vector<uint8_t>;

mode_t ModeOf(const std::wstring& p) {
  struct stat st {};
  return stat(WstrToUtf8(p).c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST(PathsPosix, FolderFollowsXdgConfigHomeThenHome) {
  TempDir tmp;
  const std::string base = WstrToUtf8(tmp.path());
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", base + "/cfg");  // created along with ours
    EXPECT_EQ(WstrToUtf8(paths::EnsureAppDataDir()), base + "/cfg/Vorn-Hale");
    EXPECT_EQ(ModeOf(tmp.File(L"cfg/Vorn-Hale")), 0700u);
  }
  ScopedEnv home("HOME", base);
  for (const char* xdg : {"relative/path", ""}) {  // not absolute: ignored
    ScopedEnv x("XDG_CONFIG_HOME", xdg);
    EXPECT_EQ(WstrToUtf8(paths::AppDataDir()), base + "/.config/Vorn-Hale") << xdg;
  }
}

TEST(PathsPosix, FilesAreOwnerOnlyWhateverTheUmaskOrAStaleTemporaryFile) {
  TempDir tmp;
  const std::wstring file = tmp.File(L"identity.key");
  tmp.Write(L"identity.key.tmp", "stale-data-that-is-longer-than-it");
  chmod(WstrToUtf8(file + L".tmp").c_str(), 0644);
  const mode_t oldMask = umask(0);
  const Bytes data(8, 0x5A);
  const bool ok = paths::WriteFileOwnerOnly(file, data.data(), data.size());
  umask(oldMask);
  ASSERT_TRUE(ok);
  EXPECT_EQ(ModeOf(file), 0600u);
  EXPECT_FALSE(PathExists(file + L".tmp"));
  EXPECT_EQ(ReadWholeFile(file), std::string(8, 0x5A));  // no stale tail
}

TEST(PathsPosix, ShortWriteKeepsTheEarlierFile) {
  // A file-size limit fails the write after the temporary file was created.
  TempDir tmp;
  const std::wstring file = tmp.File(L"identity.key");
  const Bytes before(64, 0x01), big(4096, 0x02);
  ASSERT_TRUE(paths::WriteFileOwnerOnly(file, before.data(), before.size()));
  struct rlimit old {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  struct sigaction ignore {}, oldAction {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(sigaction(SIGXFSZ, &ignore, &oldAction), 0);
  struct rlimit small = old;
  small.rlim_cur = 100;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool ok = paths::WriteFileOwnerOnly(file, big.data(), big.size());
  setrlimit(RLIMIT_FSIZE, &old);
  sigaction(SIGXFSZ, &oldAction, nullptr);
  EXPECT_FALSE(ok);
  EXPECT_FALSE(PathExists(file + L".tmp"));
  EXPECT_EQ(ReadWholeFile(file), std::string(64, 0x01));
}

TEST(PathsPosix, ConcurrentWriterLosesWithoutTouchingTheWinner) {
  TempDir tmp;
  const std::wstring file = tmp.File(L"identity.key");
  const int fd = open(WstrToUtf8(file + L".tmp").c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "winner", 6), 6);
  ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);  // another writer at work
  const Bytes data(64, 0x03);
  EXPECT_FALSE(paths::WriteFileOwnerOnly(file, data.data(), data.size()));
  close(fd);
  EXPECT_EQ(ReadWholeFile(file + L".tmp"), "winner");
  EXPECT_FALSE(PathExists(file));
}

TEST(PathsPosix, ReadingAFifoReturnsAtOnceAndAWriteReplacesIt) {
  TempDir tmp;
  const std::wstring fifo = tmp.File(L"identity.key");
  ASSERT_EQ(mkfifo(WstrToUtf8(fifo).c_str(), 0600), 0);
  Bytes out;
  EXPECT_FALSE(paths::ReadFileAll(fifo, out));
  const Bytes data(64, 0x04);
  ASSERT_TRUE(paths::WriteFileOwnerOnly(fifo, data.data(), data.size()));
  ASSERT_TRUE(paths::ReadFileAll(fifo, out));
  EXPECT_EQ(out, data);
}

}  // namespace
