// What the sharing core needs from the shell that hosts it: message boxes,
// the status line, the selection label, the Start button and a way to let
// waiting messages through. The Win32 shell, the terminal front end and the
// tests' recording shell each define these functions (chosen at link time).
#pragma once

#include <string>

#include "platform/types.h"

// The main window; target of every posted application message.
inline HWND g_hMain = nullptr;

constexpr const wchar_t* kCaption = L"Vorn-Hale";
constexpr const wchar_t* kCaptionPremium = L"Vorn-Hale - Premium feature";

// A modal message box owned by `owner`; returns the button pressed (IDOK = 1).
int ShellMessageBox(HWND owner, const std::wstring& text, const wchar_t* caption, unsigned type);
// The status line (control 114 of g_hMain). The text is not kept by the caller.
void SetStatus(const wchar_t* text);
// The selection label (control 102 of g_hMain).
void ShellSetSelectionText(const std::wstring& text);
// Enables or disables Start Sharing (control 105 of g_hMain).
void ShellEnableStart(bool enable);
// Dispatches every message already waiting on the GUI thread.
void ShellPumpMessages();

// Views of the registry in the main window: the hosted list, and the
// latest-link field with its Copy button and QR panel.
void RefreshListView(HWND hwnd);
void ShowLatestLink(HWND hwnd);
// Puts text on the clipboard as Unicode text; silent on failure.
void CopyTextToClipboard(const std::wstring& text);
