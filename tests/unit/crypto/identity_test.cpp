// vh::IdentityStore in a scratch folder standing in for the user's.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

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
    paths::SetAppDataDirForTest(tmp_.File(L"Vorn-Hale"));
    ids::g_identityReady.store(false);
  }
  void TearDown() override {
    paths::SetAppDataDirForTest(L"");
    ids::g_identityReady.store(false);
  }
  std::wstring KeyPath() const { return paths::Join(tmp_.File(L"Vorn-Hale"), L"identity.key"); }
  std::string Pub() const { return std::string(reinterpret_cast<const char*>(ids::g_identityPub), 32); }

  TempDir tmp_;
};

TEST(IdentityFormat, FingerprintLayout) {
  const uint8_t digest[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  char out[21];
  std::memset(out, 'Z', sizeof out);
  ids::FormatFp(digest, out);
  EXPECT_STREQ(out, "0123:4567:89ab:cdef");
  EXPECT_EQ(out[20], 'Z');  // 19 characters and the NUL, nothing more
}

TEST_F(IdentityTest, CreatesKeyFileOnceReloadsItAndSignsOnlyWhenReady) {
  const uint8_t msg[1] = {1};
  uint8_t sig[64];
  EXPECT_FALSE(ids::Sign(msg, 1, sig));
  ASSERT_TRUE(ids::Init());
  ASSERT_TRUE(ids::g_identityReady.load());
  const std::string file = ReadWholeFile(KeyPath());
  ASSERT_EQ(file.size(), 64u);
  EXPECT_EQ(file.substr(32), Pub());
  uint8_t digest[32];  // the fingerprint is that of the public key
  ASSERT_TRUE(vh::crypto::Sha256(ids::g_identityPub, 32, digest));
  char fp[20];
  ids::FormatFp(digest, fp);
  EXPECT_STREQ(ids::g_identityFpHex, fp);
  ASSERT_TRUE(ids::Sign(msg, 1, sig));
  EXPECT_TRUE(vh::crypto::Ed25519Verify(ids::g_identityPub, msg, 1, sig));

  const std::string firstPub = Pub();
  ids::g_identityReady.store(false);
  EXPECT_FALSE(ids::Sign(msg, 1, sig));
  std::memset(ids::g_identityPub, 0, 32);
  ASSERT_TRUE(ids::Init());
  EXPECT_EQ(Pub(), firstPub);
  EXPECT_EQ(ReadWholeFile(KeyPath()), file);
}

TEST_F(IdentityTest, DamagedKeyFileIsReplaced) {
  for (size_t size : {size_t{0}, size_t{63}, size_t{65}}) {
    ASSERT_FALSE(paths::EnsureAppDataDir().empty());
    tmp_.Write(L"Vorn-Hale/identity.key", std::string(size, '\x77'));
    ASSERT_TRUE(ids::Init()) << size;
    const std::string file = ReadWholeFile(KeyPath());
    ASSERT_EQ(file.size(), 64u) << size;
    EXPECT_EQ(file.substr(32), Pub());
  }
}

bool FailingSource(void*, size_t) { return false; }

TEST_F(IdentityTest, NoKeyFromABrokenRandomSourceOrAnUnusableFolder) {
  ASSERT_TRUE(vh::crypto::Init());
  const RandomSourceFn previous = SetRandomSourceForTest(FailingSource);
  const bool ok = ids::Init();
  SetRandomSourceForTest(previous);
  EXPECT_FALSE(ok);
  EXPECT_FALSE(ids::g_identityReady.load());
  EXPECT_FALSE(PathExists(KeyPath()));
  paths::SetAppDataDirForTest(tmp_.Write(L"plain-file", "x"));
  EXPECT_FALSE(ids::Init());
  EXPECT_FALSE(ids::g_identityReady.load());
}

}  // namespace
