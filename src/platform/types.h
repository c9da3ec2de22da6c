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

// MessageBoxW type flags and answers, the same numbers on every system.
constexpr unsigned kMbOk = 0x0;
constexpr unsigned kMbYesNo = 0x4;
constexpr unsigned kMbIconError = 0x10;
constexpr unsigned kMbIconQuestion = 0x20;
constexpr unsigned kMbIconWarning = 0x30;
constexpr unsigned kMbIconInformation = 0x40;
constexpr unsigned kMbDefButton2 = 0x100;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;
