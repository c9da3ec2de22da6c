// The system-preferred random generator (BCryptGenRandom with
// BCRYPT_USE_SYSTEM_PREFERRED_RNG on Windows, getrandom on POSIX).
#pragma once

#include <cstddef>

// Fills buf with len random bytes; false when the generator failed.
bool SystemRandom(void* buf, size_t len);

// The operating system's generator itself, without the test override.
bool PlatformRandom(void* buf, size_t len);

// Tests replace the generator to exercise failure paths; returns the previous
// one. nullptr restores the system generator.
using RandomSourceFn = bool (*)(void* buf, size_t len);
RandomSourceFn SetRandomSourceForTest(RandomSourceFn fn);
