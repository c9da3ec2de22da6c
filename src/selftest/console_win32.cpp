#include "selftest/console.h"

#include <windows.h>

#include <cstdio>

void OpenSelfTestConsole() {
  AllocConsole();
  FILE* f = nullptr;
  f = freopen("CONOUT$", "w", stdout);
  f = freopen("CONOUT$", "w", stderr);
  (void)f;
}
