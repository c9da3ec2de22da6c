// What the sharing core needs from the shell that hosts it: message boxes,
// the status line, the selection label, the Start button and a way to let
// waiting messages through. The Win32 shell, the terminal front end and the
// tests' recording shell each define these functions (chosen at link time).
#pragma once

#include <cstdint>
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

// What the sharing use cases report on the status line. Each front end words
// a note itself: the window with WindowStatusText, the terminal its own way.
enum class StatusNote {
  kStaged,             // a selection waits for Start Sharing
  kCompressing,        // a folder's archive is being made
  kCompressFailed,     // ... and that failed (a box said why)
  kLanReady,           // a same-network item was shared
  kLinkReady,          // an Internet item was shared under the published address
  kTunnelStarting,     // the tunnel client was started for an Internet item
  kNoTunnelClient,     // no tunnel client: the Internet item fell back to a LAN link
  kTunnelFound,        // the client printed its address; it is being probed
  kLinkReadyUnprobed,  // published although the probe did not reach it yet
  kTunnelDropped,      // the client ended and is started again
  kTunnelGaveUp,       // no more restarts: every Internet item fell back to LAN
  kSharingStopped,     // the last item was stopped
  kAllStopped,         // every share ended
  kNothingToStop,      // Stop All with nothing hosted
  kSelectRowFirst,     // Stop Selected without a row
};
void ShellNote(StatusNote note);
// The window's status text of a note (never null).
const wchar_t* WindowStatusText(StatusNote note);

// Why an entry of a shared folder was left out of its archive.
enum class SkipReason {
  kUnreadable,     // opening or reading it failed (`error` holds errno)
  kFifo,
  kSocket,
  kDevice,
  kNotUtf8,        // its name is not valid UTF-8
  kTooDeep,        // too many folder levels, or a name longer than zip can carry
  kChanged,        // it changed (size, time or kind) while it was read
  kLinkOutside,    // a link leading outside the folder
  kLinkToFolder,   // a link to a folder (which could loop)
  kLinkBroken,     // a link to nothing, or a loop of links
  kArchiveItself,  // the archive being written
};
// Names an entry left out of a folder's archive: `path` is the folder's path
// plus the entry's path inside it, as the bytes found on disk. Called on the
// thread that compresses. Only the POSIX archive writer calls it.
void ShellReportSkipped(const std::string& path, SkipReason why, int error);
// Archiving progress: files and bytes read so far, called often while an
// archive is written (the shell decides what to show and how often), and
// once with `finished` when it ended either way.
void ShellArchiveProgress(uint64_t files, uint64_t bytes, bool finished);
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
