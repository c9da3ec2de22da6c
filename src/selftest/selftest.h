// The --self-test run: fixed checks of the program's text helpers, crypto and
// storage, one "[ ok ] name" / "[FAIL] name" line each on the console.
#pragma once

// Opens the console, runs every check, prints the summary, waits for one
// character on standard input. 0 when every check passed, else 1.
int RunSelfTests();

// The checks alone, printed to standard output and counted (for tests).
void RunSelfTestChecks(int& total, int& failed);
