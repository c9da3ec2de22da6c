// Hashing, HMAC, HKDF, AES-256-GCM, Ed25519 and random bytes.
//
// SHA-256, HMAC-SHA256 and AES-256-GCM come from the system's provider (CNG
// on Windows, OpenSSL's libcrypto elsewhere); Ed25519 comes from libsodium.
// Every function reports failure by its result and never throws; none keeps
// state between calls, so all may be called from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vh::crypto {

constexpr size_t kSha256Len = 32;
constexpr size_t kEd25519SecretLen = 64;  // 32-byte seed followed by the 32-byte public key
constexpr size_t kEd25519PublicLen = 32;
constexpr size_t kEd25519SigLen = 64;
constexpr size_t kAesKeyLen = 32;
constexpr size_t kGcmNonceLen = 12;
constexpr size_t kGcmTagLen = 16;
// The Windows provider takes 32-bit lengths: longer inputs are refused on
// every system so that both builds behave alike.
constexpr uint64_t kMaxInputLen = 0xFFFFFFFFull;

// Installs randombytes() as libsodium's random source and initialises
// libsodium. Safe to call any number of times from any thread; the key-pair
// generators of libsodium must not be used before it returned true.
bool Init();

bool Sha256(const uint8_t* data, uint64_t len, uint8_t out[32]);
bool HmacSha256(const uint8_t* key, uint64_t keyLen, const uint8_t* data, uint64_t len,
                uint8_t out[32]);
// RFC 5869 with SHA-256; an empty salt stands for 32 zero bytes. Output
// lengths above 255 blocks (8160 bytes) are refused.
bool HkdfSha256(const uint8_t* salt, uint64_t saltLen, const uint8_t* ikm, uint64_t ikmLen,
                const uint8_t* info, uint64_t infoLen, uint8_t* out, uint64_t outLen);

bool Ed25519Sign(const uint8_t sk[64], const uint8_t* msg, uint64_t len, uint8_t sig[64]);
// True only for a valid signature of msg under pk.
bool Ed25519Verify(const uint8_t pk[32], const uint8_t* msg, uint64_t len, const uint8_t sig[64]);

// Hexadecimal text (either letter case) to bytes; empty on odd length, on any
// other character and for empty text.
std::vector<uint8_t> Unhex(const std::string& hex);

// Sealed form: ciphertext (as long as the plaintext) followed by the 16-byte tag.
bool AesGcm256Encrypt(const uint8_t key[32], const uint8_t nonce[12], const uint8_t* aad,
                      uint64_t aadLen, const uint8_t* pt, uint64_t ptLen, std::vector<uint8_t>& out);
// True only when the tag matches; on false the content of out is meaningless.
bool AesGcm256Decrypt(const uint8_t key[32], const uint8_t nonce[12], const uint8_t* aad,
                      uint64_t aadLen, const uint8_t* sealed, uint64_t sealedLen,
                      std::vector<uint8_t>& out);

// Fills buf from the system-preferred generator; zero bytes when it fails.
// libsodium's key generation draws from here (see Init).
void randombytes(uint8_t* buf, uint64_t len);

}  // namespace vh::crypto
