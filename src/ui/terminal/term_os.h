// What the terminal program needs from the system beyond the shared seam:
// stop requests (Ctrl-C, SIGTERM, a closed terminal), whether standard output
// and error are terminals, and what kind of file a path is.
#pragma once

#include <string>

#include "platform/types.h"
#include "sharing/shell.h"  // SkipReason

// Call first in main: an ignored SIGCHLD inherited from the parent would let
// the system reap our children, and their exit codes would be lost.
void RestoreDefaultChildSignal();

// Call before any thread exists: the stop signals are blocked in this thread
// and so in every thread started later, and one waiting thread takes them
// instead. The first one sets the stop request, calls `onStop` (when given)
// on the waiting thread, and posts `wakeMsg` to `hwnd` so that the message
// loop wakes at once. Nothing runs in a signal handler. False when the
// waiting thread could not start (the signals then keep their default action).
bool StartStopSignalWaiter(HWND hwnd, UINT wakeMsg, void (*onStop)());

// True once a stop signal arrived.
bool StopRequested();

// Ends and joins the waiting thread if it still waits (safe to call twice).
void EndStopSignalWaiter();

// Standard output is a terminal that understands colour codes.
bool StdoutIsColourTerminal();

// Standard error is a terminal.
bool StderrIsTerminal();

// True when the path (links followed) is a FIFO, a socket or a device, with
// the matching reason in `why`; false for anything else, also when it cannot
// be read.
bool IsSpecialFile(const std::string& path, SkipReason& why);
