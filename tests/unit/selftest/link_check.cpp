// Links the self-test alone: no shell, server or tunnel supervision is linked
// in, so this fails to link when the self-test starts to need one. Not run.
#include "selftest/selftest.h"

int main() { return RunSelfTests(); }
