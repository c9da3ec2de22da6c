// vh::IdentityStore in a scratch folder standing in for the user's.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "crypto/crypto.h"
#include "crypto/identity.h"
#include "crypto/paths.h"
#include "net_client.h"
#include "platform/random.h"

namespace {

namespace ids = vh::IdentityStore;
namespace paths = vh::paths;

class IdentityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = tmp_.File(L"Vorn-Hale");
    paths::SetAppDataDirForTest(dir_);
    ids::g_identityReady.store(false);
  }
  void TearDown() override {
    paths::SetAppDataDirForTest(L"");
    ids::g_identityReady.store(false);
  }
  std::wstring KeyPath() const { return paths::Join(dir_, L"identity.key"); }
  std::string Pub() const { return std::string(reinterpret_cast<const char*>(ids::g_identityPub), 32); }

  TempDir tmp_;
  std::wstring dir_;
};

TEST(IdentityFormat, FingerprintLayout) {
  struct Case {
    uint8_t digest[8];
    const char* text;
  };
  const Case cases[] = {
      {{0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff, 0x00, 0x11}, "aabb:ccdd:eeff:0011"},
      {{0, 0, 0, 0, 0, 0, 0, 0}, "0000:0000:0000:0000"},
      {{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}, "0123:4567:89ab:cdef"},
  };
  for (const Case& c : cases) {
    char out[21];
    std::memset(out, 'Z', sizeof out);
    ids::FormatFp(c.digest, out);
    EXPECT_STREQ(out, c.text);
    EXPECT_EQ(out[20], 'Z');  // 19 characters and the NUL, nothing more
  }
}

TEST_F(IdentityTest, CreatesKeyFileOnceAndReloadsIt) {
  ASSERT_TRUE(ids::Init());
  ASSERT_TRUE(ids::g_identityReady.load());
  const std::string file = ReadWholeFile(KeyPath());
  ASSERT_EQ(file.size(), 64u);
  EXPECT_EQ(file.substr(32), Pub());
  EXPECT_FALSE(PathExists(KeyPath() + L".tmp"));

  // The fingerprint is that of the public key.
  uint8_t digest[32];
  ASSERT_TRUE(vh::crypto::Sha256(ids::g_identityPub, 32, digest));
  char fp[20];
  ids::FormatFp(digest, fp);
  EXPECT_STREQ(ids::g_identityFpHex, fp);

  const std::string firstPub = Pub();
  ids::g_identityReady.store(false);
  std::memset(ids::g_identityPub, 0, 32);
  ASSERT_TRUE(ids::Init());
  EXPECT_EQ(Pub(), firstPub);
  EXPECT_EQ(ReadWholeFile(KeyPath()), file);

  const char msg[] = "identity round-trip";
  uint8_t sig[64];
  ASSERT_TRUE(ids::Sign(reinterpret_cast<const uint8_t*>(msg), 19, sig));
  EXPECT_TRUE(vh::crypto::Ed25519Verify(ids::g_identityPub, reinterpret_cast<const uint8_t*>(msg), 19, sig));
}

TEST_F(IdentityTest, DamagedKeyFileIsReplaced) {
  for (size_t size : {size_t{0}, size_t{63}, size_t{65}, size_t{1048577}}) {
    ASSERT_TRUE(paths::EnsureAppDataDir() == dir_);
    const std::string damaged(size, '\x77');
    tmp_.Write(L"Vorn-Hale/identity.key", damaged);
    ids::g_identityReady.store(false);
    ASSERT_TRUE(ids::Init()) << size;
    const std::string file = ReadWholeFile(KeyPath());
    ASSERT_EQ(file.size(), 64u) << size;
    EXPECT_NE(file.substr(32), std::string(32, '\x77'));
    EXPECT_EQ(file.substr(32), Pub());
  }
}

TEST_F(IdentityTest, SignRefusedWhileNotReady) {
  uint8_t sig[64];
  const uint8_t msg[1] = {1};
  EXPECT_FALSE(ids::Sign(msg, 1, sig));
  ASSERT_TRUE(ids::Init());
  EXPECT_TRUE(ids::Sign(msg, 1, sig));
  ids::g_identityReady.store(false);
  EXPECT_FALSE(ids::Sign(msg, 1, sig));
}

bool FailingSource(void*, size_t) { return false; }

TEST_F(IdentityTest, NoKeyFromABrokenRandomSource) {
  ASSERT_TRUE(vh::crypto::Init());
  const RandomSourceFn previous = SetRandomSourceForTest(FailingSource);
  const bool ok = ids::Init();
  SetRandomSourceForTest(previous);
  EXPECT_FALSE(ok);
  EXPECT_FALSE(ids::g_identityReady.load());
  EXPECT_FALSE(PathExists(KeyPath()));
}

TEST_F(IdentityTest, UnusableFolderFails) {
  paths::SetAppDataDirForTest(tmp_.Write(L"plain-file", "x"));
  EXPECT_FALSE(ids::Init());
  EXPECT_FALSE(ids::g_identityReady.load());
}

}  // namespace
