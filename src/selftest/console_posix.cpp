#include "selftest/console.h"

// A terminal program already has its standard streams.
void OpenSelfTestConsole() {}
