// vh::crypto against published vectors, on the system's own provider.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "crypto/crypto.h"

namespace {

namespace crypto = vh::crypto;
using Bytes = std::vector<uint8_t>;

Bytes H(const char* hex) { return crypto::Unhex(hex); }

TEST(Crypto, UnhexAndDigests) {
  const std::pair<const char*, Bytes> unhex[] = {
      {"abc", {}}, {"0g", {}}, {"g0", {}}, {"0 ", {}}, {"-1", {}}, {"00ff7F80", {0, 255, 127, 128}}};
  for (const auto& [in, want] : unhex) EXPECT_EQ(crypto::Unhex(in), want) << '"' << in << '"';
  // The self-test has the other known answers; RFC 4231 case 1, RFC 5869 case 3.
  uint8_t out[32] = {};
  const Bytes key(20, 0x0b), ikm(22, 0x0b);
  ASSERT_TRUE(crypto::HmacSha256(key.data(), key.size(), reinterpret_cast<const uint8_t*>("Hi There"), 8, out));
  EXPECT_EQ(Bytes(out, out + 32), H("b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"));
  Bytes okm(42), big(255 * 32 + 1);
  ASSERT_TRUE(crypto::HkdfSha256(nullptr, 0, ikm.data(), ikm.size(), nullptr, 0, okm.data(), okm.size()));
  EXPECT_EQ(okm, H("8da4e775a563c18f715f802a063c5a31b8a11f5c5ee1879ec3454e5f3c738d2d9d201395faa4b61a96c8"));
  // Up to 255 blocks, all distinct (the one-byte counter never wraps); one more is refused.
  EXPECT_TRUE(crypto::HkdfSha256(nullptr, 0, ikm.data(), ikm.size(), nullptr, 0, big.data(), 255 * 32));
  EXPECT_NE(0, std::memcmp(big.data(), big.data() + 254 * 32, 32));
  EXPECT_FALSE(crypto::HkdfSha256(nullptr, 0, ikm.data(), ikm.size(), nullptr, 0, big.data(), big.size()));
}

// Signing and sealing from several threads (the set-up runs once); tampering the self-test skips.
TEST(Crypto, Ed25519AndAesGcmFromManyThreads) {
  // RFC 8032 section 7.1 TEST 1; NIST CAVP gcmEncryptExtIV256 (empty text and AAD).
  const Bytes sk = H("9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60"
                     "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a"),
              wantSig = H("e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33"
                          "bacc61e39701cf9b46bd25bf5f0595bbe24655141438e7a100b"),
              key = H("b52c505a37d78eda5dd34f20c22540ea1b58963cf8e5bf8ffa85f9f2492505b4"),
              iv = H("516c33929df5a3284ff463d7"), tag = H("bdc1ac884d332457a1d2664f168c76f0");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 25; ++i) {
        uint8_t sig[64] = {};
        Bytes sealed;
        EXPECT_TRUE(crypto::Init() && crypto::Ed25519Sign(sk.data(), nullptr, 0, sig) &&
                    crypto::AesGcm256Encrypt(key.data(), iv.data(), nullptr, 0, nullptr, 0, sealed));
        EXPECT_EQ(Bytes(sig, sig + 64), wantSig);
        EXPECT_EQ(sealed, tag);
      }
    });
  }
  for (std::thread& t : threads) t.join();

  uint8_t sig[64] = {};
  ASSERT_TRUE(crypto::Ed25519Sign(sk.data(), nullptr, 0, sig));
  EXPECT_FALSE(crypto::Ed25519Verify(sk.data() + 32, reinterpret_cast<const uint8_t*>("r"), 1, sig));
  sig[63] ^= 0x80;
  EXPECT_FALSE(crypto::Ed25519Verify(sk.data() + 32, nullptr, 0, sig));

  const Bytes aad = {'a', 'a', 'd'}, pt = {'s', 'e', 'c', 'r', 'e', 't'};
  Bytes sealed, out;
  EXPECT_FALSE(crypto::AesGcm256Decrypt(key.data(), iv.data(), nullptr, 0, tag.data(), 15, out));  // too short
  ASSERT_TRUE(crypto::AesGcm256Encrypt(key.data(), iv.data(), aad.data(), 3, pt.data(), pt.size(), sealed));
  ASSERT_EQ(sealed.size(), pt.size() + 16);
  for (size_t i : {size_t{0}, sealed.size() - 1}) {  // ciphertext and tag
    Bytes bad = sealed;
    bad[i] ^= 0x80;
    EXPECT_FALSE(crypto::AesGcm256Decrypt(key.data(), iv.data(), aad.data(), 3, bad.data(), bad.size(), out)) << i;
  }
}

}  // namespace
