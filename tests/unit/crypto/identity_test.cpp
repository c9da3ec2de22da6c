// vh::IdentityStore and vh::paths on real files in a scratch folder; then each system's side.
#include <gtest/gtest.h>

#include <filesystem>
#ifdef _WIN32
#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include "crypto/paths_win32.h"
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "crypto/crypto.h"
#include "crypto/identity.h"
#include "crypto/paths.h"
#include "net_client.h"
#include "platform/random.h"
#include "platform/text.h"
#include "test_util.h"

namespace {
namespace ids = vh::IdentityStore;
namespace paths = vh::paths;
using Bytes = std::vector<uint8_t>;

struct IdentityTest : ::testing::Test {
  void SetUp() override { paths::SetAppDataDirForTest(dir_), ids::Forget(); }
  void TearDown() override { paths::SetAppDataDirForTest(L""), ids::Forget(); }
  TempDir tmp_;
  const std::wstring dir_ = tmp_.File(L"Vorn-Hale"), key_ = paths::Join(dir_, L"identity.key");
};

// A broken generator's all-zero key is never kept; a good key's file and fingerprint (the self-test checks the rest).
TEST_F(IdentityTest, KeyFileHoldsAGoodKeyPairAndTheFingerprintIsThePublicKeys) {
  uint8_t sig[64], digest[32] = {};
  char fp[22] = "ZZZZZZZZZZZZZZZZZZZZZ";
  ASSERT_TRUE(vh::crypto::Init());
  SetRandomSourceForTest([](void*, size_t) { return false; });
  EXPECT_FALSE(ids::Init() || ids::Ready() || PathExists(key_));
  SetRandomSourceForTest(nullptr);
  EXPECT_FALSE(ids::Sign(digest, 1, sig));  // not ready yet
  ASSERT_TRUE(ids::Init());
  const std::string file = ReadWholeFile(key_), pub(reinterpret_cast<const char*>(ids::PublicKey()), 32);
  EXPECT_EQ(file.size() == 64 ? file.substr(32) : file, pub);
  ASSERT_TRUE(vh::crypto::Sha256(ids::PublicKey(), 32, digest));
  ids::FormatFp(digest, fp);
  EXPECT_EQ(std::string(fp, 21), ids::Fingerprint() + std::string("\0Z", 2));  // 19 characters and the NUL
  tmp_.Write(L"Vorn-Hale/identity.key", std::string(63, '\x77'));  // damaged: replaced
  ASSERT_TRUE(ids::Init());
  EXPECT_EQ(ReadWholeFile(key_).substr(32), std::string(reinterpret_cast<const char*>(ids::PublicKey()), 32));
  ids::Forget();  // an unusable folder
  paths::SetAppDataDirForTest(tmp_.Write(L"plain-file", "x"));
  EXPECT_FALSE(ids::Init() || ids::Ready());
}

TEST_F(IdentityTest, FolderOnceAndWriteReplacesReadsRegularFilesUpToOneMebibyte) {
  EXPECT_EQ(paths::EnsureAppDataDir() + paths::EnsureAppDataDir(), dir_ + dir_);  // new, then already there
  Bytes back, data = {0xDE, 0xAD, 0xBE, 0xEF, 0x42};
  for (const size_t n : {size_t{5}, size_t{0}}) {  // the second write replaces the first
    ASSERT_TRUE(paths::WriteFileOwnerOnly(tmp_.File(L"f"), &data[0], n) && paths::ReadFileAll(tmp_.File(L"f"), back));
    EXPECT_EQ(back, Bytes(data.begin(), data.begin() + n));
  }
  for (const size_t size : {size_t{1048576}, size_t{1048577}}) {
    Bytes out = {7};
    EXPECT_EQ(paths::ReadFileAll(tmp_.Write(L"big", std::string(size, 'z')), out), size == 1048576);
    EXPECT_EQ(out.size(), size == 1048576 ? size : 1u);  // untouched on failure
  }
  EXPECT_FALSE(paths::ReadFileAll(tmp_.File(L"missing"), back) || paths::ReadFileAll(tmp_.path(), back));
  EXPECT_FALSE(paths::WriteFileOwnerOnly(tmp_.File(L"no/f"), data.data(), 1));  // no folder
  std::filesystem::create_directories(std::filesystem::path(key_) / "child");  // the move fails
  EXPECT_FALSE(paths::WriteFileOwnerOnly(key_, data.data(), 1) || PathExists(key_ + L".tmp"));
}

#ifndef _WIN32
mode_t ModeOf(const std::wstring& p) {
  struct stat st {};
  return stat(WstrToUtf8(p).c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}
// An absolute XDG_CONFIG_HOME, else HOME; whatever the umask, folder 0700, key 0600 over a stale readable temp.
TEST_F(IdentityTest, PosixFolderFollowsAnAbsoluteXdgConfigHomeThenHomeAndIsOwnerOnly) {
  paths::SetAppDataDirForTest(L"");
  const std::string base = WstrToUtf8(tmp_.path());
  ScopedEnv home("HOME", base);
  for (const char* xdg : {"relative/path", ""}) {
    ScopedEnv x("XDG_CONFIG_HOME", xdg);
    EXPECT_EQ(WstrToUtf8(paths::AppDataDir()), base + "/.config/Vorn-Hale") << xdg;
  }
  ScopedEnv xdg("XDG_CONFIG_HOME", base + "/cfg");  // created along with ours
  const mode_t oldMask = umask(0);
  const std::wstring dir = paths::EnsureAppDataDir(), key = dir + L"/identity.key";
  chmod(WstrToUtf8(tmp_.Write(L"cfg/Vorn-Hale/identity.key.tmp", std::string(100, 's'))).c_str(), 0644);
  const bool ok = ids::Init();
  umask(oldMask);
  ASSERT_EQ(WstrToUtf8(dir), base + "/cfg/Vorn-Hale");
  ASSERT_TRUE(ok);
  EXPECT_EQ(ModeOf(dir), 0700u);
  EXPECT_EQ(ModeOf(key), 0600u);
  EXPECT_EQ(ReadWholeFile(key).size() + PathExists(key + L".tmp"), 64u);  // no stale tail, no temp
}

// A short write (a file-size limit), another writer at work: the earlier files stay.
TEST_F(IdentityTest, PosixFailedWritesKeepWhatWasThere) {
  const std::wstring file = tmp_.Write(L"identity.key", std::string(64, 1)), tmp = file + L".tmp";
  const Bytes big(4096, 2);
  struct rlimit old {}, small {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  small = {100, old.rlim_max};
  const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool ok = paths::WriteFileOwnerOnly(file, big.data(), big.size());
  setrlimit(RLIMIT_FSIZE, &old), signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(ok || PathExists(tmp));
  const int fd = open(WstrToUtf8(tmp).c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_TRUE(fd >= 0 && write(fd, "winner", 6) == 6 && flock(fd, LOCK_EX | LOCK_NB) == 0);
  EXPECT_FALSE(paths::WriteFileOwnerOnly(file, big.data(), 64));
  close(fd);
  EXPECT_EQ(ReadWholeFile(tmp) + ReadWholeFile(file), "winner" + std::string(64, 1));
}
#else
TEST_F(IdentityTest, Win32FolderIsUnderRoamingAppData) {
  paths::SetAppDataDirForTest(L"");
  PWSTR p = nullptr;
  ASSERT_TRUE(SUCCEEDED(SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &p)));
  EXPECT_EQ(paths::AppDataDir(), std::wstring(p) + L"\\Vorn-Hale");
  CoTaskMemFree(p);
}

// The key file's ACL as built (Wine keeps no file DACL): one ACE granting everything to the user.
TEST_F(IdentityTest, Win32KeyFileGrantsEverythingToTheUserAlone) {
  BYTE tokenUser[256];
  DWORD size = 0;
  ASSERT_TRUE(GetTokenInformation(GetCurrentProcessToken(), TokenUser, tokenUser, sizeof tokenUser, &size));
  const PSID user = reinterpret_cast<TOKEN_USER*>(tokenUser)->User.Sid;
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(paths::OwnerOnlyAclBytes(bytes));
  PACL acl = reinterpret_cast<PACL>(bytes.data());
  ACCESS_ALLOWED_ACE* ace = nullptr;
  EXPECT_EQ(acl->AclRevision + acl->AclSize * 100, ACL_REVISION + (GetLengthSid(user) + 16) * 100);
  ASSERT_TRUE(acl->AceCount == 1 && GetAce(acl, 0, reinterpret_cast<void**>(&ace)));
  EXPECT_EQ(ace->Header.AceType + ace->Header.AceFlags * 256, ACCESS_ALLOWED_ACE_TYPE);
  EXPECT_TRUE(ace->Mask == GENERIC_ALL && EqualSid(user, &ace->SidStart));
}
#endif
}  // namespace
