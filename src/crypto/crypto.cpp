#include "crypto/crypto.h"

#include <sodium.h>

#include <cstring>
#include <mutex>

#include "platform/hex.h"
#include "platform/random.h"

namespace vh::crypto {
namespace {

constexpr uint64_t kHkdfMaxBlocks = 255;  // the block counter is one byte

// libsodium's random source, routed to randombytes() below.
const char* SourceName() { return "vornhale-system"; }
uint32_t SourceRandom() {
  uint32_t v = 0;
  randombytes(reinterpret_cast<uint8_t*>(&v), sizeof v);
  return v;
}
void SourceBuf(void* const buf, const size_t size) {
  randombytes(static_cast<uint8_t*>(buf), size);
}
randombytes_implementation g_sodiumSource = {
    SourceName, SourceRandom, nullptr /*stir*/, nullptr /*uniform*/, SourceBuf, nullptr /*close*/};

std::once_flag g_initOnce;
bool g_initOk = false;

}  // namespace

bool Init() {
  std::call_once(g_initOnce, [] {
    g_initOk = randombytes_set_implementation(&g_sodiumSource) == 0 && sodium_init() >= 0;
  });
  return g_initOk;
}

void randombytes(uint8_t* buf, uint64_t len) {
  if (len == 0) return;
  if (!SystemRandom(buf, static_cast<size_t>(len))) std::memset(buf, 0, static_cast<size_t>(len));
}

bool HkdfSha256(const uint8_t* salt, uint64_t saltLen, const uint8_t* ikm, uint64_t ikmLen,
                const uint8_t* info, uint64_t infoLen, uint8_t* out, uint64_t outLen) {
  if (outLen > kHkdfMaxBlocks * kSha256Len) return false;
  if (infoLen > kMaxInputLen - kSha256Len - 1) return false;
  static const uint8_t kZeroSalt[kSha256Len] = {};
  if (saltLen == 0) {
    salt = kZeroSalt;
    saltLen = sizeof kZeroSalt;
  }
  uint8_t prk[kSha256Len];
  if (!HmacSha256(salt, saltLen, ikm, ikmLen, prk)) return false;

  // T(i) = HMAC(PRK, T(i-1) || info || i), T(0) empty.
  std::vector<uint8_t> block;
  block.reserve(kSha256Len + static_cast<size_t>(infoLen) + 1);
  uint8_t t[kSha256Len];
  size_t tLen = 0;
  uint64_t done = 0;
  bool ok = true;
  for (uint8_t counter = 1; done < outLen; ++counter) {
    block.assign(t, t + tLen);
    if (infoLen) block.insert(block.end(), info, info + infoLen);
    block.push_back(counter);
    if (!HmacSha256(prk, sizeof prk, block.data(), block.size(), t)) {
      ok = false;
      break;
    }
    tLen = sizeof t;
    const uint64_t take = outLen - done < kSha256Len ? outLen - done : kSha256Len;
    std::memcpy(out + done, t, static_cast<size_t>(take));
    done += take;
  }
  sodium_memzero(prk, sizeof prk);
  sodium_memzero(t, sizeof t);
  if (!block.empty()) sodium_memzero(block.data(), block.size());
  return ok;
}

bool Ed25519Sign(const uint8_t sk[64], const uint8_t* msg, uint64_t len, uint8_t sig[64]) {
  if (len > kMaxInputLen || !Init()) return false;
  std::vector<uint8_t> sm;
  try {
    sm.assign(static_cast<size_t>(len) + kEd25519SigLen, 0);
  } catch (...) {
    return false;
  }
  unsigned long long smLen = 0;
  if (crypto_sign_ed25519(sm.data(), &smLen, msg, len, sk) != 0) return false;
  if (smLen != len + kEd25519SigLen) return false;
  std::memcpy(sig, sm.data(), kEd25519SigLen);
  return true;
}

bool Ed25519Verify(const uint8_t pk[32], const uint8_t* msg, uint64_t len, const uint8_t sig[64]) {
  if (len > kMaxInputLen || !Init()) return false;
  std::vector<uint8_t> sm;
  std::vector<uint8_t> m;
  try {
    sm.resize(static_cast<size_t>(len) + kEd25519SigLen);
    m.assign(sm.size(), 0);
  } catch (...) {
    return false;
  }
  std::memcpy(sm.data(), sig, kEd25519SigLen);
  if (len) std::memcpy(sm.data() + kEd25519SigLen, msg, static_cast<size_t>(len));
  unsigned long long mLen = 0;
  return crypto_sign_ed25519_open(m.data(), &mLen, sm.data(), sm.size(), pk) == 0;
}

std::vector<uint8_t> Unhex(const std::string& hex) {
  std::vector<uint8_t> out;
  if (hex.empty() || hex.size() % 2 != 0) return out;
  out.reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int hi = HexDigitValue(static_cast<unsigned char>(hex[i]));
    const int lo = HexDigitValue(static_cast<unsigned char>(hex[i + 1]));
    if (hi < 0 || lo < 0) return {};
    out.push_back(static_cast<uint8_t>(hi << 4 | lo));
  }
  return out;
}

}  // namespace vh::crypto
