#include "platform/random.h"

#include <atomic>

namespace {
std::atomic<RandomSourceFn> g_randomOverride{nullptr};
}  // namespace

bool SystemRandom(void* buf, size_t len) {
  if (RandomSourceFn fn = g_randomOverride.load()) return fn(buf, len);
  return PlatformRandom(buf, len);
}

RandomSourceFn SetRandomSourceForTest(RandomSourceFn fn) { return g_randomOverride.exchange(fn); }
