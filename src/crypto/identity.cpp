#include "crypto/identity.h"

#include <sodium.h>

#include <cstring>
#include <string>
#include <vector>

#include "crypto/crypto.h"
#include "crypto/paths.h"
#include "platform/fs.h"
#include "platform/hex.h"

namespace vh::IdentityStore {

namespace {

// Written only while g_identityReady is false.
uint8_t g_identitySec[64];
uint8_t g_identityPub[32];
char g_identityFpHex[kFpTextLen];
std::atomic<bool> g_identityReady{false};

constexpr size_t kFpBytes = 8;

// Fingerprint of g_identityPub into g_identityFpHex, then ready.
bool PublishIdentity() {
  uint8_t digest[crypto::kSha256Len];
  if (!crypto::Sha256(g_identityPub, sizeof g_identityPub, digest)) return false;
  FormatFp(digest, g_identityFpHex);
  g_identityReady.store(true);
  return true;
}

bool AllZero(const uint8_t* p, size_t n) {
  uint8_t acc = 0;
  for (size_t i = 0; i < n; ++i) acc |= p[i];
  return acc == 0;
}

}  // namespace

void FormatFp(const uint8_t* digest, char* out) {
  std::string text;
  for (size_t i = 0; i < kFpBytes; ++i) {
    AppendHexByte(text, digest[i], /*lower=*/true);
    if (i == 1 || i == 3 || i == 5) text.push_back(':');
  }
  std::memcpy(out, text.c_str(), text.size() + 1);
}

bool Init() {
  const std::wstring dir = paths::EnsureAppDataDir();
  if (dir.empty()) return false;
  const std::wstring keyPath = paths::Join(dir, kKeyFileName);

  std::vector<uint8_t> file;
  if (paths::ReadFileAll(keyPath, file) && file.size() == sizeof g_identitySec) {
    std::memcpy(g_identitySec, file.data(), sizeof g_identitySec);
    std::memcpy(g_identityPub, file.data() + 32, sizeof g_identityPub);
    sodium_memzero(file.data(), file.size());
    return PublishIdentity();
  }

  // Missing, unreadable or damaged: a new identity replaces it.
  if (!crypto::Init()) return false;
  if (crypto_sign_ed25519_keypair(g_identityPub, g_identitySec) != 0) return false;
  // randombytes() hands out zeros when the system generator fails; a key from
  // an all-zero seed is public knowledge and must never be stored.
  if (AllZero(g_identitySec, 32)) return false;
  if (!paths::WriteFileOwnerOnly(keyPath, g_identitySec, sizeof g_identitySec)) return false;
  return PublishIdentity();
}

bool RestoreSetAsideKey() {
  const std::wstring dir = paths::EnsureAppDataDir();
  if (dir.empty()) return false;
  const std::wstring aside = paths::Join(dir, kSetAsideFileName);
  bool isFolder = false;
  if (!ReadPathKind(aside, isFolder)) return true;  // nothing set aside
  return !isFolder && paths::MoveFileReplacing(aside, paths::Join(dir, kKeyFileName));
}

bool SetKeyAside(bool& hadKey) {
  hadKey = false;
  const std::wstring dir = paths::EnsureAppDataDir();
  if (dir.empty()) return false;
  const std::wstring aside = paths::Join(dir, kSetAsideFileName);
  const std::wstring keyPath = paths::Join(dir, kKeyFileName);
  bool isFolder = false;
  if (ReadPathKind(aside, isFolder)) return false;  // never over a key set aside earlier
  if (!ReadPathKind(keyPath, isFolder)) return true;  // no key file: nothing to keep
  if (isFolder || !paths::MoveFileReplacing(keyPath, aside)) return false;
  hadKey = true;
  return true;
}

bool Ready() { return g_identityReady.load(); }
void Forget() { g_identityReady.store(false); }
const uint8_t* PublicKey() { return g_identityPub; }
const char* Fingerprint() { return g_identityFpHex; }

bool Sign(const uint8_t* msg, uint64_t len, uint8_t sig[64]) {
  if (!g_identityReady.load()) return false;
  return crypto::Ed25519Sign(g_identitySec, msg, len, sig);
}

}  // namespace vh::IdentityStore
