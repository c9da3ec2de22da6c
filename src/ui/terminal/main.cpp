// vornhale: the terminal front end.
#include <cstdio>
#include <cstring>

#include "selftest/selftest.h"

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--self-test") == 0) return RunSelfTests();
  std::fprintf(stderr, "usage: vornhale --self-test\n");
  return 2;
}
