// Application messages posted to the main window (WM_USER + n). Worker threads
// report through core/events.h, whose WM_APP_EVENTS (1025) only wakes the loop.
#pragma once

#include "platform/types.h"

constexpr UINT WM_SHELL_PATH = 1028;  // lParam: the first instance's own path argument
