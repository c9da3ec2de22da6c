// What the terminal program draws: a link as a QR code made of half-block
// characters, and the compact table of hosted items. Pure text, no output.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/share_mode.h"
#include "sharing/shell.h"  // StatusNote, SkipReason
#include "text/utf8.h"     // IsValidUtf8

// Modules of quiet zone around the symbol on every side.
constexpr int kQrQuietModules = 4;

// The QR code of `text` (error correction MEDIUM, the library's defaults)
// with its quiet zone, two module rows per line: light modules are the ink
// (U+2580 upper half, U+2584 lower half, U+2588 full block), dark modules the
// background. With `colour` every line starts with white ink on a black
// background (fixed 256-colour entries) and ends with a reset, so the code is
// dark on light whatever the terminal's own colours; without it the lines
// are plain and read right on a light-on-dark terminal. Empty when the text
// fits no QR version.
std::vector<std::string> QrHalfBlockLines(const std::string& text, bool colour);

// Text from outside the program (file names) made safe to print: C0
// controls, DEL, C1 controls and every byte that is not part of valid UTF-8
// are written as "\xHH" (a C1 control as the two bytes of its UTF-8 form), so
// that a name can neither steer the terminal nor break a line.
std::string EscapeForTerminal(const std::string& bytes);


// One hosted item as the table shows it.
struct HostedRow {
  std::string name;
  bool isFolder = false;
  uint64_t size = 0;
  ShareMode mode = ShareMode::kInternet;
  std::string url;
  int downloads = 0;
};

// Column texts of the hosted list: "Folder"/"File", the size text,
// "Internet"/"LAN", and the link or "(waiting for tunnel...)".
std::string KindText(bool isFolder);
std::string ModeText(ShareMode mode);
std::string LinkText(const std::string& url);

// A header line and one line per row: Name (escaped as above), Kind, Size,
// Mode, Status, Downloads, Link, the columns padded to their widest text (the
// link last, so it is never padded).
std::vector<std::string> FormatHostedTable(const std::vector<HostedRow>& rows);

// The terminal control sequence that puts text on the clipboard (OSC 52,
// base64 text, ended by BEL); terminals without it ignore the sequence.
std::string ClipboardSequence(const std::string& utf8);

// The terminal's words for a status note; null where it says nothing (a
// selection is shared at once, there is no Start Sharing to click). Nothing
// here claims a copy to the clipboard: the terminal says so where it wrote
// the sequence (kCopiedText).
const char* TerminalStatusText(StatusNote note);

// The line printed after the clipboard sequence.
constexpr const char* kCopiedText = "Link copied to clipboard.";

// The REASON of "vornhale: skipped PATH: REASON" for an entry left out of a
// folder's archive (`error`: the errno value of kUnreadable).
std::string SkipReasonText(SkipReason why, int error);

// The progress line of an archiving: "Archiving: N file(s), SIZE read".
std::string ArchiveProgressText(uint64_t files, uint64_t bytes);

// Every line of a text escaped (EscapeForTerminal) and ended by a newline:
// for texts that are meant to span lines, such as message boxes.
std::string EscapeLines(const std::string& text);
