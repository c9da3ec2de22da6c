// The user's long-lived Ed25519 identity, kept in "identity.key" (the raw
// 64-byte secret key: seed followed by public key) in the program's folder,
// and the short fingerprint of its public key.
#pragma once

#include <atomic>
#include <cstdint>

namespace vh::IdentityStore {

constexpr const wchar_t* kKeyFileName = L"identity.key";
// The user's key while the self-test tests generating a new one: beside the
// key file, so that setting it aside and putting it back are renames.
constexpr const wchar_t* kSetAsideFileName = L"identity.key.aside";
constexpr size_t kFpTextLen = 20;  // "xxxx:xxxx:xxxx:xxxx" and its NUL

// Whether Init has loaded or made the identity.
bool Ready();
// Forgets it (the key file stays): not ready, and the next Init reads the
// key file again. Not while another thread may sign.
void Forget();
// The public key (32 bytes) and its fingerprint text with its NUL; written
// only while not ready.
const uint8_t* PublicKey();
const char* Fingerprint();

// Loads the key file, or creates a new identity when it is missing or not
// exactly 64 bytes long; true once the fields hold it and ready is set.
bool Init();
// Puts a key file the self-test set aside back in place, over any key file
// there (one that an interrupted self-test generated). Every start calls it
// before Init. True when nothing was set aside or it is back; false when the
// folder is unusable or the rename failed.
bool RestoreSetAsideKey();
// The self-test's side: renames the key file aside. hadKey tells whether
// there was one (nothing is set aside otherwise). False, changing nothing,
// when a key is set aside already (put it back first), the folder is unusable
// or the rename failed.
bool SetKeyAside(bool& hadKey);
// Fingerprint text of digest[0..7] with its NUL into out (20 bytes).
void FormatFp(const uint8_t* digest, char* out);
// False while not ready; otherwise Ed25519 over msg with the identity's key.
bool Sign(const uint8_t* msg, uint64_t len, uint8_t sig[64]);

}  // namespace vh::IdentityStore
