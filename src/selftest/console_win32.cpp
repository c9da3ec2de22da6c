#include "selftest/console.h"

#include <windows.h>

#include <cstdio>

void OpenSelfTestConsole() {
  AllocConsole();
  FILE* f = nullptr;
  f = freopen("CONOUT$", "w", stdout);
  f = freopen("CONOUT$", "w", stderr);
  // Started from Explorer a GUI program has no standard input at all, and the
  // closing "Press Enter" would return at once and take the console with it:
  // only then read the new console. Inherited input (a pipe, a terminal) stays.
  if (_fileno(stdin) < 0) f = freopen("CONIN$", "r", stdin);
  (void)f;
}
