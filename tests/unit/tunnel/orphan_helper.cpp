// A stand-in for the program that starts the tunnel client and then ends
// without stopping it, so that a test can check the client does not outlive
// it. Argument: "exit" (ends at once, no clean-up) or "wait" (waits up to 60 s
// to be killed). Prints "started <client pid>" once the client runs, "failed"
// otherwise.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/message.h"
#include "platform/net.h"
#include "platform/process.h"
#include "tunnel/supervisor.h"

int main(int argc, char** argv) {
  const bool wait = argc > 1 && std::strcmp(argv[1], "wait") == 0;
  NetStartup();
  CreateKillOnCloseJob();  // what start-up does
  const bool ok = StartTunnelIfNeeded(CreateMessageWindow());
  if (ok)
    std::printf("started %lu\n", static_cast<unsigned long>(g_tunProc.pid));
  else
    std::fputs("failed\n", stdout);
  std::fflush(stdout);
  if (ok && wait) std::this_thread::sleep_for(std::chrono::seconds(60));
  // No StopTunnel, no destructors: as if the program had crashed.
  std::_Exit(ok ? 0 : 1);
}
