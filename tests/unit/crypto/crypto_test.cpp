// vh::crypto against published vectors, on the system's own provider.
#include <gtest/gtest.h>
#include <sodium.h>

#include <cstring>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "crypto/crypto.h"
#include "platform/random.h"

namespace {

namespace crypto = vh::crypto;
using Bytes = std::vector<uint8_t>;

Bytes H(const char* hex) { return crypto::Unhex(hex); }
Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::string Hex(const uint8_t* p, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += kDigits[p[i] >> 4];
    s += kDigits[p[i] & 15];
  }
  return s;
}
std::string Hex(const Bytes& b) { return Hex(b.data(), b.size()); }

TEST(Unhex, Table) {
  struct Case {
    const char* in;
    Bytes want;
  };
  const Case cases[] = {
      {"", {}},          {"0g", {}},         {"abc", {}},        {"0A", {10}},
      {"0a", {10}},      {"00ff7F80", {0, 255, 127, 128}},      {"g0", {}},
      {"00zz", {}},      {"0 ", {}},         {"-1", {}},         {"ABCDEF", {0xab, 0xcd, 0xef}},
  };
  for (const Case& c : cases) EXPECT_EQ(crypto::Unhex(c.in), c.want) << '"' << c.in << '"';
  EXPECT_TRUE(crypto::Unhex(std::string("0\0", 2)).empty());  // NUL is not a digit
}

TEST(Sha256, FipsVectors) {
  struct Case {
    std::string msg;
    const char* digest;
  };
  const Case cases[] = {
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
  };
  for (const Case& c : cases) {
    uint8_t out[32] = {};
    ASSERT_TRUE(crypto::Sha256(reinterpret_cast<const uint8_t*>(c.msg.data()), c.msg.size(), out));
    EXPECT_EQ(Hex(out, 32), c.digest) << c.msg;
  }
}

TEST(HmacSha256, KnownAnswers) {
  uint8_t out[32] = {};
  // RFC 4231 test case 1.
  const Bytes key1(20, 0x0b);
  const Bytes msg1 = B("Hi There");
  ASSERT_TRUE(crypto::HmacSha256(key1.data(), key1.size(), msg1.data(), msg1.size(), out));
  EXPECT_EQ(Hex(out, 32), "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7");
  // RFC 5869 test case 1, extract step: PRK = HMAC(salt, IKM).
  const Bytes ikm(22, 0x0b);
  const Bytes salt = H("000102030405060708090a0b0c");
  ASSERT_TRUE(crypto::HmacSha256(salt.data(), salt.size(), ikm.data(), ikm.size(), out));
  EXPECT_EQ(Hex(out, 32), "077709362c2e32df0ddc3f0dc47bba6390b6c73bb50f9c3122ec844ad7c2b3e5");
}

TEST(HkdfSha256, Rfc5869) {
  const Bytes ikm(22, 0x0b);
  // Test case 1: salt and info given.
  const Bytes salt = H("000102030405060708090a0b0c");
  const Bytes info = H("f0f1f2f3f4f5f6f7f8f9");
  Bytes okm(42);
  ASSERT_TRUE(crypto::HkdfSha256(salt.data(), salt.size(), ikm.data(), ikm.size(), info.data(),
                                 info.size(), okm.data(), okm.size()));
  EXPECT_EQ(Hex(okm),
            "3cb25f25faacd57a90434f64d0362f2a2d2d0a90cf1a5a4c5db02d56ecc4c5bf34007208d5b887185865");
  // Test case 3: empty salt (32 zero bytes) and empty info.
  ASSERT_TRUE(crypto::HkdfSha256(nullptr, 0, ikm.data(), ikm.size(), nullptr, 0, okm.data(), okm.size()));
  EXPECT_EQ(Hex(okm),
            "8da4e775a563c18f715f802a063c5a31b8a11f5c5ee1879ec3454e5f3c738d2d9d201395faa4b61a96c8");
}

TEST(HkdfSha256, OutputLengthLimit) {
  const Bytes ikm(22, 0x0b);
  Bytes big(255 * 32 + 1);
  EXPECT_TRUE(crypto::HkdfSha256(nullptr, 0, ikm.data(), ikm.size(), nullptr, 0, big.data(), 255 * 32));
  // Blocks 1..255 are all distinct: the one-byte counter never wrapped.
  EXPECT_NE(0, std::memcmp(big.data(), big.data() + 254 * 32, 32));
  EXPECT_FALSE(crypto::HkdfSha256(nullptr, 0, ikm.data(), ikm.size(), nullptr, 0, big.data(), big.size()));
  // A prefix of a longer output is the shorter output.
  Bytes shortOut(5);
  ASSERT_TRUE(crypto::HkdfSha256(nullptr, 0, ikm.data(), ikm.size(), nullptr, 0, shortOut.data(), 5));
  EXPECT_EQ(0, std::memcmp(shortOut.data(), big.data(), 5));
}

// RFC 8032 section 7.1 TEST 1 (empty message) and TEST 2's public key.
constexpr const char* kSeed1 = "9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60";
constexpr const char* kPub1 = "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a";
constexpr const char* kSig1 =
    "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe24655141438e7a100b";
constexpr const char* kPub2 = "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c";

TEST(Ed25519, Rfc8032Test1) {
  Bytes sk = H(kSeed1);
  const Bytes pub = H(kPub1);
  sk.insert(sk.end(), pub.begin(), pub.end());
  ASSERT_EQ(sk.size(), 64u);
  uint8_t sig[64] = {};
  ASSERT_TRUE(crypto::Ed25519Sign(sk.data(), nullptr, 0, sig));
  EXPECT_EQ(Hex(sig, 64), kSig1);
  EXPECT_TRUE(crypto::Ed25519Verify(pub.data(), nullptr, 0, sig));

  for (size_t bit : {0u, 7u, 300u, 511u}) {
    uint8_t bad[64];
    std::memcpy(bad, sig, 64);
    bad[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
    EXPECT_FALSE(crypto::Ed25519Verify(pub.data(), nullptr, 0, bad)) << "bit " << bit;
  }
  EXPECT_FALSE(crypto::Ed25519Verify(H(kPub2).data(), nullptr, 0, sig));
  const uint8_t oneByte = 0x72;
  EXPECT_FALSE(crypto::Ed25519Verify(pub.data(), &oneByte, 1, sig));  // other message
}

TEST(Ed25519, RoundTripOverMessage) {
  ASSERT_TRUE(crypto::Init());
  uint8_t pk[32], sk[64];
  ASSERT_EQ(crypto_sign_ed25519_keypair(pk, sk), 0);
  const Bytes msg = B("a message of some length, signed and checked");
  uint8_t sig[64];
  ASSERT_TRUE(crypto::Ed25519Sign(sk, msg.data(), msg.size(), sig));
  EXPECT_TRUE(crypto::Ed25519Verify(pk, msg.data(), msg.size(), sig));
  Bytes changed = msg;
  changed.back() ^= 1;
  EXPECT_FALSE(crypto::Ed25519Verify(pk, changed.data(), changed.size(), sig));
}

// NIST CAVP gcmEncryptExtIV256, 96-bit IV, empty PT and AAD, 128-bit tag.
constexpr const char* kGcmKey = "b52c505a37d78eda5dd34f20c22540ea1b58963cf8e5bf8ffa85f9f2492505b4";
constexpr const char* kGcmIv = "516c33929df5a3284ff463d7";

TEST(AesGcm256, KnownAnswers) {
  struct Case {
    const char* key;
    const char* iv;
    const char* pt;
    const char* sealed;
  };
  const Case cases[] = {
      {kGcmKey, kGcmIv, "", "bdc1ac884d332457a1d2664f168c76f0"},
      // Zero key and nonce, empty and one zero block (GCM paper, cases 13 and 14).
      {"0000000000000000000000000000000000000000000000000000000000000000", "000000000000000000000000",
       "", "530f8afbc74536b9a963b4f1c4cb738b"},
      {"0000000000000000000000000000000000000000000000000000000000000000", "000000000000000000000000",
       "00000000000000000000000000000000",
       "cea7403d4d606b6e074ec5d3baf39d18d0d1c8a799996bf0265b98b5d48ab919"},
  };
  for (const Case& c : cases) {
    const Bytes key = H(c.key), iv = H(c.iv), pt = H(c.pt);
    Bytes sealed;
    ASSERT_TRUE(crypto::AesGcm256Encrypt(key.data(), iv.data(), nullptr, 0, pt.data(), pt.size(), sealed));
    EXPECT_EQ(Hex(sealed), c.sealed);
    Bytes opened;
    ASSERT_TRUE(crypto::AesGcm256Decrypt(key.data(), iv.data(), nullptr, 0, sealed.data(),
                                         sealed.size(), opened));
    EXPECT_EQ(opened, pt);
  }
}

TEST(AesGcm256, AdditionalDataAndTampering) {
  const Bytes key = H(kGcmKey), iv = H(kGcmIv);
  const Bytes pt = B("secret hello peer");
  const Bytes aad = B("packetno=42|fp=abcd");
  ASSERT_EQ(pt.size(), 17u);
  ASSERT_EQ(aad.size(), 19u);
  Bytes sealed;
  ASSERT_TRUE(crypto::AesGcm256Encrypt(key.data(), iv.data(), aad.data(), aad.size(), pt.data(),
                                       pt.size(), sealed));
  ASSERT_EQ(sealed.size(), pt.size() + 16);
  Bytes out;
  ASSERT_TRUE(crypto::AesGcm256Decrypt(key.data(), iv.data(), aad.data(), aad.size(), sealed.data(),
                                       sealed.size(), out));
  EXPECT_EQ(out, pt);

  const Bytes wrongAad = B("packetno=42|fp=BEDF");
  EXPECT_FALSE(crypto::AesGcm256Decrypt(key.data(), iv.data(), wrongAad.data(), wrongAad.size(),
                                        sealed.data(), sealed.size(), out));
  EXPECT_FALSE(crypto::AesGcm256Decrypt(key.data(), iv.data(), nullptr, 0, sealed.data(),
                                        sealed.size(), out));
  for (size_t i : {size_t{0}, size_t{16}, size_t{17}, sealed.size() - 1}) {  // ciphertext and tag
    Bytes bad = sealed;
    bad[i] ^= 0x80;
    EXPECT_FALSE(crypto::AesGcm256Decrypt(key.data(), iv.data(), aad.data(), aad.size(), bad.data(),
                                          bad.size(), out))
        << "byte " << i;
  }
  Bytes otherIv = iv;
  otherIv[11] ^= 1;
  EXPECT_FALSE(crypto::AesGcm256Decrypt(key.data(), otherIv.data(), aad.data(), aad.size(),
                                        sealed.data(), sealed.size(), out));
}

TEST(AesGcm256, ShortInputRefused) {
  const Bytes key = H(kGcmKey), iv = H(kGcmIv);
  const Bytes tagOnly = H("bdc1ac884d332457a1d2664f168c76f0");
  Bytes out;
  EXPECT_TRUE(crypto::AesGcm256Decrypt(key.data(), iv.data(), nullptr, 0, tagOnly.data(), 16, out));
  EXPECT_TRUE(out.empty());
  for (uint64_t n : {0u, 1u, 15u})
    EXPECT_FALSE(crypto::AesGcm256Decrypt(key.data(), iv.data(), nullptr, 0, tagOnly.data(), n, out)) << n;
}

bool FailingSource(void*, size_t) { return false; }
bool CountingSource(void* buf, size_t len) {
  auto* p = static_cast<uint8_t*>(buf);
  for (size_t i = 0; i < len; ++i) p[i] = static_cast<uint8_t>(i + 1);
  return true;
}

TEST(RandomBytes, SystemSourceAndZeroFillOnFailure) {
  uint8_t a[32] = {}, b[32] = {};
  crypto::randombytes(a, sizeof a);
  crypto::randombytes(b, sizeof b);
  EXPECT_NE(0, std::memcmp(a, b, sizeof a));

  const RandomSourceFn previous = SetRandomSourceForTest(FailingSource);
  uint8_t buf[40];
  std::memset(buf, 0xAA, sizeof buf);
  crypto::randombytes(buf, 32);
  SetRandomSourceForTest(previous);
  for (int i = 0; i < 32; ++i) EXPECT_EQ(buf[i], 0) << i;
  for (int i = 32; i < 40; ++i) EXPECT_EQ(buf[i], 0xAA) << i;  // nothing past the length
}

TEST(RandomBytes, LibsodiumKeyGenerationDrawsFromIt) {
  ASSERT_TRUE(crypto::Init());
  ASSERT_TRUE(crypto::Init());  // idempotent
  const RandomSourceFn previous = SetRandomSourceForTest(CountingSource);
  uint8_t pk[32], sk[64];
  const int rc = crypto_sign_ed25519_keypair(pk, sk);
  SetRandomSourceForTest(previous);
  ASSERT_EQ(rc, 0);
  for (int i = 0; i < 32; ++i) EXPECT_EQ(sk[i], i + 1) << "seed byte " << i;
  EXPECT_EQ(0, std::memcmp(sk + 32, pk, 32));  // secret key = seed || public key
}

TEST(Crypto, CallsFromManyThreadsAtOnce) {
  // No shared state: every call stands alone, first use of libsodium included.
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&wrong] {
      Bytes sk = H(kSeed1);
      const Bytes pub = H(kPub1);
      sk.insert(sk.end(), pub.begin(), pub.end());
      const Bytes key = H(kGcmKey), iv = H(kGcmIv);
      for (int i = 0; i < 25; ++i) {
        uint8_t digest[32], sig[64];
        Bytes sealed;
        if (!crypto::Init() || !crypto::Sha256(pub.data(), pub.size(), digest) ||
            !crypto::Ed25519Sign(sk.data(), nullptr, 0, sig) || Hex(sig, 64) != kSig1 ||
            !crypto::AesGcm256Encrypt(key.data(), iv.data(), nullptr, 0, nullptr, 0, sealed) ||
            Hex(sealed) != "bdc1ac884d332457a1d2664f168c76f0")
          ++wrong;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
