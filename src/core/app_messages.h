// Application messages posted to the main window (WM_USER + n).
#pragma once

#include "platform/types.h"

constexpr UINT WM_TUNNEL_READY = 1025;   // wParam 1: probe answered 200; lParam: heap UTF-8 address
constexpr UINT WM_TUNNEL_FAILED = 1026;  // no address in time, or the client ended
constexpr UINT WM_DOWNLOAD_DONE = 1027;  // a file transfer ended, complete or not
constexpr UINT WM_SHELL_PATH = 1028;     // lParam: the first instance's own path argument
constexpr UINT WM_TUNNEL_FOUND = 1030;   // an address was found; probing begins
