#include "platform/random.h"

#include <windows.h>
#include <bcrypt.h>

bool PlatformRandom(void* buf, size_t len) {
  return BCRYPT_SUCCESS(BCryptGenRandom(nullptr, static_cast<PUCHAR>(buf), static_cast<ULONG>(len),
                                        BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}
