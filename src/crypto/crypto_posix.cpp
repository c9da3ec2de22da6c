// SHA-256, HMAC-SHA256 and AES-256-GCM over OpenSSL's libcrypto (EVP).
#include "crypto/crypto.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstring>
#include <memory>

namespace vh::crypto {
namespace {

// EVP takes int lengths: feed larger inputs in pieces.
constexpr uint64_t kChunk = 1u << 30;

struct CipherCtxFree {
  void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};
struct MdCtxFree {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;

// Key, nonce and additional data into a fresh GCM context.
CipherCtx StartGcm(bool encrypt, const uint8_t key[32], const uint8_t nonce[12], const uint8_t* aad,
                   uint64_t aadLen) {
  CipherCtx ctx(EVP_CIPHER_CTX_new());
  if (!ctx) return nullptr;
  const int enc = encrypt ? 1 : 0;
  if (EVP_CipherInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr, enc) != 1 ||
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, static_cast<int>(kGcmNonceLen),
                          nullptr) != 1 ||
      EVP_CipherInit_ex(ctx.get(), nullptr, nullptr, key, nonce, enc) != 1)
    return nullptr;
  for (uint64_t off = 0; off < aadLen; off += kChunk) {
    const int n = static_cast<int>(aadLen - off < kChunk ? aadLen - off : kChunk);
    int outl = 0;
    if (EVP_CipherUpdate(ctx.get(), nullptr, &outl, aad + off, n) != 1) return nullptr;
  }
  return ctx;
}

bool RunGcm(EVP_CIPHER_CTX* ctx, const uint8_t* in, uint64_t len, uint8_t* out) {
  for (uint64_t off = 0; off < len; off += kChunk) {
    const int n = static_cast<int>(len - off < kChunk ? len - off : kChunk);
    int outl = 0;
    if (EVP_CipherUpdate(ctx, out + off, &outl, in + off, n) != 1 || outl != n) return false;
  }
  return true;
}

}  // namespace

bool Sha256(const uint8_t* data, uint64_t len, uint8_t out[32]) {
  if (len > kMaxInputLen) return false;
  MdCtx ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) return false;
  for (uint64_t off = 0; off < len; off += kChunk) {
    const size_t n = static_cast<size_t>(len - off < kChunk ? len - off : kChunk);
    if (EVP_DigestUpdate(ctx.get(), data + off, n) != 1) return false;
  }
  unsigned int outLen = 0;
  return EVP_DigestFinal_ex(ctx.get(), out, &outLen) == 1 && outLen == kSha256Len;
}

bool HmacSha256(const uint8_t* key, uint64_t keyLen, const uint8_t* data, uint64_t len,
                uint8_t out[32]) {
  if (keyLen > kMaxInputLen || len > kMaxInputLen || keyLen > 0x7FFFFFFF) return false;
  // A null key means "reuse the previous key" to OpenSSL, so an empty key
  // still needs a real pointer.
  static const uint8_t kEmpty[1] = {0};
  if (keyLen == 0) key = kEmpty;
  if (len == 0) data = kEmpty;
  unsigned int outLen = 0;
  if (!HMAC(EVP_sha256(), key, static_cast<int>(keyLen), data, static_cast<size_t>(len), out,
            &outLen))
    return false;
  return outLen == kSha256Len;
}

bool AesGcm256Encrypt(const uint8_t key[32], const uint8_t nonce[12], const uint8_t* aad,
                      uint64_t aadLen, const uint8_t* pt, uint64_t ptLen, std::vector<uint8_t>& out) {
  if (aadLen > kMaxInputLen || ptLen > kMaxInputLen) return false;
  try {
    out.assign(static_cast<size_t>(ptLen) + kGcmTagLen, 0);
  } catch (...) {
    return false;
  }
  CipherCtx ctx = StartGcm(true, key, nonce, aad, aadLen);
  if (!ctx || !RunGcm(ctx.get(), pt, ptLen, out.data())) return false;
  int outl = 0;
  uint8_t tail[16];
  if (EVP_EncryptFinal_ex(ctx.get(), tail, &outl) != 1 || outl != 0) return false;
  return EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, static_cast<int>(kGcmTagLen),
                             out.data() + ptLen) == 1;
}

bool AesGcm256Decrypt(const uint8_t key[32], const uint8_t nonce[12], const uint8_t* aad,
                      uint64_t aadLen, const uint8_t* sealed, uint64_t sealedLen,
                      std::vector<uint8_t>& out) {
  if (sealedLen < kGcmTagLen) return false;
  if (aadLen > kMaxInputLen || sealedLen - kGcmTagLen > kMaxInputLen) return false;
  const uint64_t ctLen = sealedLen - kGcmTagLen;
  try {
    out.assign(static_cast<size_t>(ctLen), 0);
  } catch (...) {
    return false;
  }
  CipherCtx ctx = StartGcm(false, key, nonce, aad, aadLen);
  if (!ctx || !RunGcm(ctx.get(), sealed, ctLen, out.data())) return false;
  uint8_t tag[16];
  std::memcpy(tag, sealed + ctLen, sizeof tag);
  if (EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, static_cast<int>(sizeof tag), tag) != 1)
    return false;
  int outl = 0;
  uint8_t tail[16];
  return EVP_DecryptFinal_ex(ctx.get(), tail, &outl) == 1;
}

}  // namespace vh::crypto
