// The program's stand-in: starts the client, prints "started <pid>", ends without stopping it.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/message.h"
#include "platform/net.h"
#include "platform/process.h"
#include "tunnel/supervisor.h"

int main(int argc, char** argv) {
  NetStartup();
  CreateKillOnCloseJob();  // what start-up does
  if (!StartTunnelIfNeeded(CreateMessageWindow())) return std::puts("failed"), 1;
  std::printf("started %lu\n", static_cast<unsigned long>(TunnelClientPid())), std::fflush(stdout);
  if (argc > 1 && argv[1] == std::string("wait")) std::this_thread::sleep_for(std::chrono::seconds(60));
  std::_Exit(0);  // no StopTunnel, no destructors: as if it had crashed
}
