// Posting application messages to the main window. Worker threads reach the
// GUI thread only this way. On Windows it is PostMessageW; on POSIX the message
// goes into a process-wide queue that the front end's loop (or a test) drains.
#pragma once

#include "platform/types.h"

struct AppMessage {
  HWND hwnd = nullptr;
  UINT msg = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};

// PostMessageW semantics: false when the message could not be queued (a null
// window on Windows; never on POSIX).
bool PostWindowMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Waits up to timeoutMs for the next posted application message (WM_USER and up)
// for a window of the calling thread (Windows) or for any window (POSIX).
// Other messages on Windows are dispatched while waiting.
bool WaitAppMessage(AppMessage& out, unsigned timeoutMs);

// A window that can receive posted messages: a message-only window on Windows,
// a unique token on POSIX. For front ends without a real main window and tests.
HWND CreateMessageWindow();
void DestroyMessageWindow(HWND hwnd);
