// Not run: fails to link once the self-test needs the shell, the server or tunnel supervision.
#include "selftest/selftest.h"

int main() { return RunSelfTests(); }
