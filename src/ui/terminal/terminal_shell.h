// The terminal program's side of the shell functions (core/shell.h):
// message boxes go to standard error as one block "Vorn-Hale: " + text,
// status texts to standard output one line each, every item's link on a line
// of its own as soon as it is known, followed by its QR code, and the table of
// hosted items whenever it changed. All of it runs on the main thread.
#pragma once

// QR codes with explicit colours (standard output is a colour terminal).
// Set once before sharing starts.
extern bool g_terminalColour;
