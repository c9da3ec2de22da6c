// vornhale: the terminal front end.
#include <cstdio>
#include <string>
#include <vector>

#include "selftest/selftest.h"
#include "share_args.h"
#include "share_session.h"
#include "term_os.h"
#include "terminal_view.h"

#ifndef VH_VERSION
#define VH_VERSION "unknown"
#endif

int main(int argc, char** argv) {
  RestoreDefaultChildSignal();
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
  const Command command = ParseCommandLine(args);
  switch (command.kind) {
    case CommandKind::kSelfTest: return RunSelfTests();
    case CommandKind::kShare: return RunShare(command.share);
    case CommandKind::kHelp: std::fputs(UsageText().c_str(), stdout); return 0;
    case CommandKind::kVersion: std::printf("vornhale %s\n", VH_VERSION); return 0;
    case CommandKind::kError: break;
  }
  // The error may echo an argument: escaped, so it cannot steer the terminal.
  std::fprintf(stderr, "vornhale: %s\n%s", EscapeForTerminal(command.error).c_str(), UsageText().c_str());
  return 2;
}
