#include "platform/random.h"

#include <atomic>
#include <cerrno>
#include <sys/random.h>

namespace {
bool SystemRandomImpl(void* buf, size_t len) {
  auto* p = static_cast<unsigned char*>(buf);
  while (len > 0) {
    const ssize_t n = getrandom(p, len, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}
std::atomic<RandomSourceFn> g_randomOverride{nullptr};
}  // namespace

bool SystemRandom(void* buf, size_t len) {
  if (RandomSourceFn fn = g_randomOverride.load()) return fn(buf, len);
  return SystemRandomImpl(buf, len);
}

RandomSourceFn SetRandomSourceForTest(RandomSourceFn fn) { return g_randomOverride.exchange(fn); }
