// The shell functions of the terminal program (sharing/shell.h). There is no
// window: questions are answered "No", the selection label and Start button
// do not exist, and the clipboard is the terminal's (OSC 52), when there is
// a terminal.
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/registry.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "sharing/shell.h"
#include "terminal_shell.h"
#include "terminal_view.h"

bool g_terminalColour = false;
bool g_stderrTerminal = false;

namespace {

constexpr const char* kMessagePrefix = "Vorn-Hale: ";
constexpr const char* kProgramPrefix = "vornhale: ";
// A table is printed at most this often; every finished download refreshes.
constexpr uint64_t kTableIntervalMs = 1000;
// The archiving progress line is redrawn at most this often.
constexpr uint64_t kProgressIntervalMs = 1000;

// The link last printed for each item, so that a link is printed once when it
// becomes known and again only when it changes (publish, restart, fallback).
std::vector<std::pair<std::weak_ptr<HostedItem>, std::string>> g_printedLinks;
// The table as last printed, when, and whether a refresh waits to be printed.
std::vector<std::string> g_printedTable;
uint64_t g_tablePrintedAt = 0;
bool g_tableEverPrinted = false;
bool g_tablePending = false;
// The archiving progress line: when it was last drawn, and whether it stands
// on standard error now (to be cleared before any other line there).
uint64_t g_progressDrawnAt = 0;
bool g_progressShown = false;

void WriteBlock(std::FILE* f, const std::string& block) {
  if (g_progressShown) {  // the progress line goes; what follows starts clean
    std::fputs("\r\x1b[K", stderr);
    g_progressShown = false;
  }
  std::fwrite(block.data(), 1, block.size(), f);
  std::fflush(f);
}

std::string* PrintedLinkOf(const std::shared_ptr<HostedItem>& item) {
  for (auto& entry : g_printedLinks) {
    if (entry.first.lock() == item) return &entry.second;
  }
  return nullptr;
}

// Prints the link and QR code of every item whose link is known and differs
// from what was printed for it before.
void PrintNewLinks(const std::vector<std::shared_ptr<HostedItem>>& items) {
  std::erase_if(g_printedLinks, [](const auto& entry) { return entry.first.expired(); });
  for (const auto& item : items) {
    const std::string url = item->url;  // written on this thread only
    if (url.empty()) continue;
    std::string* printed = PrintedLinkOf(item);
    if (printed && *printed == url) continue;
    if (printed) {
      *printed = url;
    } else {
      g_printedLinks.emplace_back(item, url);
    }
    std::string block = EscapeForTerminal(url) + "\n";
    const std::vector<std::string> qr = QrHalfBlockLines(url, g_terminalColour);
    for (const std::string& line : qr) block += line + "\n";
    if (qr.empty()) block += "(this link is too long for a QR code)\n";
    WriteBlock(stdout, block);
  }
}

void PrintTableIfChanged(const std::vector<std::shared_ptr<HostedItem>>& items) {
  if (items.empty() && g_printedTable.empty()) return;
  std::vector<HostedRow> rows;
  for (const auto& item : items) {
    rows.push_back(HostedRow{item->name, item->isFolder, item->size, item->mode, item->url,
                             item->downloads.load()});
  }
  std::vector<std::string> table =
      items.empty() ? std::vector<std::string>{"(nothing hosted)"} : FormatHostedTable(rows);
  if (table == g_printedTable) return;
  std::string block;
  for (const std::string& line : table) block += "  " + line + "\n";
  g_printedTable = std::move(table);
  WriteBlock(stdout, block);
  g_tablePrintedAt = TickCountMs();
  g_tableEverPrinted = true;
}

}  // namespace

int ShellMessageBox(HWND, const std::wstring& text, const wchar_t*, unsigned type) {
  WriteBlock(stderr, EscapeLines(kMessagePrefix + WstrToUtf8(text)));
  return (type & 0xF) == kMbYesNo ? kIdNo : 1;
}

void SetStatus(const wchar_t* text) {
  if (text) WriteBlock(stdout, EscapeLines(WstrToUtf8(text)));
}

void ShellNote(StatusNote note) {
  if (const char* text = TerminalStatusText(note)) WriteBlock(stdout, std::string(text) + "\n");
}

void ShellReportSkipped(const std::string& path, SkipReason why, int error) {
  PrintSkippedPath(path, SkipReasonText(why, error));
}

void ShellArchiveProgress(uint64_t files, uint64_t bytes, bool finished) {
  if (!g_stderrTerminal) return;
  if (finished) {
    WriteBlock(stderr, std::string());  // clears a progress line
    return;
  }
  const uint64_t now = TickCountMs();
  if (g_progressDrawnAt != 0 && now - g_progressDrawnAt < kProgressIntervalMs) return;
  g_progressDrawnAt = now;
  g_progressShown = false;  // overwritten in place, not cleared first
  WriteBlock(stderr, "\r" + ArchiveProgressText(files, bytes) + "\x1b[K");
  g_progressShown = true;
}

void ShellSetSelectionText(const std::wstring&) {}
void ShellEnableStart(bool) {}
void ShellPumpMessages() {}

void RefreshListView(HWND) {
  PrintNewLinks(SnapshotHosted());
  g_tablePending = true;
  FlushHostedTable(false, 0);
}

unsigned FlushHostedTable(bool now, unsigned idleMs) {
  if (!g_tablePending) return idleMs;
  const uint64_t since = TickCountMs() - g_tablePrintedAt;
  if (!now && g_tableEverPrinted && since < kTableIntervalMs)
    return static_cast<unsigned>(kTableIntervalMs - since);
  g_tablePending = false;
  PrintTableIfChanged(SnapshotHosted());  // the state as it is now
  return idleMs;
}

void PrintSkippedPath(const std::string& path, const std::string& reason) {
  WriteBlock(stderr, kProgramPrefix + std::string("skipped ") + EscapeForTerminal(path) + ": " +
                         reason + "\n");
}

void ShowLatestLink(HWND) { PrintNewLinks(SnapshotHosted()); }

void CopyTextToClipboard(const std::wstring& text) {
  if (!g_terminalColour || text.empty()) return;  // a log or a pipe has no clipboard
  WriteBlock(stdout, ClipboardSequence(WstrToUtf8(text)) + kCopiedText + "\n");
}
