// SHA-256, HMAC-SHA256 and AES-256-GCM over CNG (bcrypt). Every provider,
// hash and key handle is opened per call and released on every path.
#include "crypto/crypto.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>

#include "platform/owned.h"

namespace vh::crypto {
namespace {

void CloseAlg(BCRYPT_ALG_HANDLE h) { BCryptCloseAlgorithmProvider(h, 0); }
using AlgHandle = Owned<BCRYPT_ALG_HANDLE, static_cast<BCRYPT_ALG_HANDLE>(nullptr), CloseAlg>;
using HashHandle = Owned<BCRYPT_HASH_HANDLE, static_cast<BCRYPT_HASH_HANDLE>(nullptr), BCryptDestroyHash>;
using KeyHandle = Owned<BCRYPT_KEY_HANDLE, static_cast<BCRYPT_KEY_HANDLE>(nullptr), BCryptDestroyKey>;

PUCHAR In(const uint8_t* p) { return const_cast<PUCHAR>(p); }

// One SHA-256 or HMAC-SHA256 computation (key non-null selects HMAC).
bool Digest(const uint8_t* key, uint64_t keyLen, const uint8_t* data, uint64_t len, uint8_t out[32]) {
  if (keyLen > kMaxInputLen || len > kMaxInputLen) return false;
  const bool hmac = key != nullptr;
  AlgHandle alg;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(alg.out(), BCRYPT_SHA256_ALGORITHM, nullptr,
                                                  hmac ? BCRYPT_ALG_HANDLE_HMAC_FLAG : 0)))
    return false;
  HashHandle hash;
  if (!BCRYPT_SUCCESS(BCryptCreateHash(alg.get(), hash.out(), nullptr, 0, hmac ? In(key) : nullptr,
                                       static_cast<ULONG>(keyLen), 0)))
    return false;
  if (!BCRYPT_SUCCESS(BCryptHashData(hash.get(), In(data), static_cast<ULONG>(len), 0))) return false;
  return BCRYPT_SUCCESS(BCryptFinishHash(hash.get(), out, static_cast<ULONG>(kSha256Len), 0));
}

// AES provider in GCM mode with the key imported.
bool OpenGcmKey(AlgHandle& alg, KeyHandle& key, const uint8_t keyBytes[32]) {
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(alg.out(), BCRYPT_AES_ALGORITHM, nullptr, 0)))
    return false;
  if (!BCRYPT_SUCCESS(BCryptSetProperty(alg.get(), BCRYPT_CHAINING_MODE,
                                        reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(BCRYPT_CHAIN_MODE_GCM)),
                                        sizeof(BCRYPT_CHAIN_MODE_GCM), 0)))
    return false;
  return BCRYPT_SUCCESS(BCryptGenerateSymmetricKey(alg.get(), key.out(), nullptr, 0, In(keyBytes),
                                                   static_cast<ULONG>(kAesKeyLen), 0));
}

void FillModeInfo(BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO& info, const uint8_t nonce[12],
                  const uint8_t* aad, uint64_t aadLen, uint8_t tag[16]) {
  BCRYPT_INIT_AUTH_MODE_INFO(info);
  info.pbNonce = In(nonce);
  info.cbNonce = static_cast<ULONG>(kGcmNonceLen);
  info.pbAuthData = aadLen ? In(aad) : nullptr;
  info.cbAuthData = static_cast<ULONG>(aadLen);
  info.pbTag = tag;
  info.cbTag = static_cast<ULONG>(kGcmTagLen);
}

}  // namespace

bool Sha256(const uint8_t* data, uint64_t len, uint8_t out[32]) {
  return Digest(nullptr, 0, data, len, out);
}

bool HmacSha256(const uint8_t* key, uint64_t keyLen, const uint8_t* data, uint64_t len,
                uint8_t out[32]) {
  static const uint8_t kEmpty[1] = {0};
  return Digest(key ? key : kEmpty, keyLen, data, len, out);
}

bool AesGcm256Encrypt(const uint8_t key[32], const uint8_t nonce[12], const uint8_t* aad,
                      uint64_t aadLen, const uint8_t* pt, uint64_t ptLen, std::vector<uint8_t>& out) {
  if (aadLen > kMaxInputLen || ptLen > kMaxInputLen - kGcmTagLen) return false;
  try {
    out.assign(static_cast<size_t>(ptLen) + kGcmTagLen, 0);
  } catch (...) {
    return false;
  }
  uint8_t tag[16] = {};
  bool ok = false;
  {
    AlgHandle alg;
    KeyHandle k;
    if (OpenGcmKey(alg, k, key)) {
      BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info;
      FillModeInfo(info, nonce, aad, aadLen, tag);
      ULONG written = 0;
      ok = BCRYPT_SUCCESS(BCryptEncrypt(k.get(), ptLen ? In(pt) : nullptr,
                                        static_cast<ULONG>(ptLen), &info, nullptr, 0,
                                        ptLen ? out.data() : nullptr, static_cast<ULONG>(ptLen),
                                        &written, 0)) &&
           written == ptLen;
    }
  }
  if (ok) std::memcpy(out.data() + ptLen, tag, sizeof tag);
  return ok;
}

bool AesGcm256Decrypt(const uint8_t key[32], const uint8_t nonce[12], const uint8_t* aad,
                      uint64_t aadLen, const uint8_t* sealed, uint64_t sealedLen,
                      std::vector<uint8_t>& out) {
  if (sealedLen < kGcmTagLen) return false;
  if (aadLen > kMaxInputLen || sealedLen > kMaxInputLen) return false;
  const uint64_t ctLen = sealedLen - kGcmTagLen;
  try {
    out.assign(static_cast<size_t>(ctLen), 0);
  } catch (...) {
    return false;
  }
  uint8_t tag[16];
  std::memcpy(tag, sealed + ctLen, sizeof tag);
  AlgHandle alg;
  KeyHandle k;
  if (!OpenGcmKey(alg, k, key)) return false;
  BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info;
  FillModeInfo(info, nonce, aad, aadLen, tag);
  ULONG written = 0;
  return BCRYPT_SUCCESS(BCryptDecrypt(k.get(), ctLen ? In(sealed) : nullptr,
                                      static_cast<ULONG>(ctLen), &info, nullptr, 0,
                                      ctLen ? out.data() : nullptr, static_cast<ULONG>(ctLen),
                                      &written, 0)) &&
         written == ctLen;
}

}  // namespace vh::crypto
