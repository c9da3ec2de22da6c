// `vornhale share`: stages the paths, shares them as Start Sharing does, then
// serves until a stop signal and removes everything.
#pragma once

#include "share_args.h"

// 0 after a stop signal ended the sharing, 1 when nothing could be shared.
int RunShare(const ShareOptions& options);
