// Window and message types shared by portable code and the Win32 shell.
// HWND is the same incomplete pointer type that <windows.h> declares (STRICT),
// so portable files can pass window handles around without the OS header.
#pragma once

#include <cstdint>

struct HWND__;
typedef HWND__* HWND;
typedef unsigned int UINT;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
