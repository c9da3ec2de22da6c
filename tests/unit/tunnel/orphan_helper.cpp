// The program's stand-in: starts the client, prints "started <pid>", ends without stopping it.
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
  NetStartup();
  CreateKillOnCloseJob();  // what start-up does
  const bool ok = StartTunnelIfNeeded(CreateMessageWindow());
  if (ok) std::printf("started %lu\n", static_cast<unsigned long>(g_tunProc.pid));
  else std::fputs("failed\n", stdout);
  std::fflush(stdout);
  if (ok && argc > 1 && std::strcmp(argv[1], "wait") == 0)
    std::this_thread::sleep_for(std::chrono::seconds(60));
  std::_Exit(ok ? 0 : 1);  // no StopTunnel, no destructors: as if it had crashed
}
