#include "platform/random.h"

#include <windows.h>
#include <bcrypt.h>

#include <atomic>

namespace {
bool SystemRandomImpl(void* buf, size_t len) {
  return BCRYPT_SUCCESS(BCryptGenRandom(nullptr, static_cast<PUCHAR>(buf), static_cast<ULONG>(len),
                                        BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}
std::atomic<RandomSourceFn> g_randomOverride{nullptr};
}  // namespace

bool SystemRandom(void* buf, size_t len) {
  if (RandomSourceFn fn = g_randomOverride.load()) return fn(buf, len);
  return SystemRandomImpl(buf, len);
}

RandomSourceFn SetRandomSourceForTest(RandomSourceFn fn) { return g_randomOverride.exchange(fn); }
