// The terminal program's side of the shell functions (sharing/shell.h):
// message boxes go to standard error as one block "Vorn-Hale: " + text,
// status notes in the terminal's words (TerminalStatusText) to standard output
// one line each, every item's link on a line
// of its own as soon as it is known, followed by its QR code, and the table of
// hosted items when it changed, at most once a second (a refresh within a
// second of the last table waits for FlushHostedTable). Lines about single
// paths go to standard error with names escaped (EscapeForTerminal). All of
// it runs on the main thread, where folders are compressed as well.
#pragma once

#include <string>

// QR codes with explicit colours (standard output is a colour terminal).
// Set once before sharing starts.
extern bool g_terminalColour;
// Standard error is a terminal: an archiving shows its progress there on one
// line, redrawn at most once a second. Set once before sharing starts.
extern bool g_stderrTerminal;

// Prints the table if a refresh is waiting and a second has passed since the
// last table (or at once with `now`). How long until a waiting table is due
// (ms), or `idleMs` when none waits: the longest wait for the loop.
unsigned FlushHostedTable(bool now, unsigned idleMs);

// "vornhale: skipped PATH: REASON" on standard error.
void PrintSkippedPath(const std::string& path, const std::string& reason);
