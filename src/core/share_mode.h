// How an item's link reaches it.
#pragma once

#include <cstdint>

// Through the tunnel, or at this computer's own address. The numbers are the
// ones stored for an item (0 and 1).
enum class ShareMode : int32_t { kInternet = 0, kLan = 1 };
