// The user's long-lived Ed25519 identity, kept in "identity.key" (the raw
// 64-byte secret key: seed followed by public key) in the program's folder,
// and the short fingerprint of its public key.
#pragma once

#include <atomic>
#include <cstdint>

namespace vh::IdentityStore {

constexpr const wchar_t* kKeyFileName = L"identity.key";
constexpr size_t kFpTextLen = 20;  // "xxxx:xxxx:xxxx:xxxx" and its NUL

// Written only while g_identityReady is false.
extern uint8_t g_identitySec[64];
extern uint8_t g_identityPub[32];
extern char g_identityFpHex[kFpTextLen];
extern std::atomic<bool> g_identityReady;

// Loads the key file, or creates a new identity when it is missing or not
// exactly 64 bytes long; true once the fields hold it and ready is set.
bool Init();
// Fingerprint text of digest[0..7] with its NUL into out (20 bytes).
void FormatFp(const uint8_t* digest, char* out);
// False while not ready; otherwise Ed25519 over msg with the identity's key.
bool Sign(const uint8_t* msg, uint64_t len, uint8_t sig[64]);

}  // namespace vh::IdentityStore
