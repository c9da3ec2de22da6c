#include "platform/net_os.h"

#include <csignal>
#include <fcntl.h>
#include <sys/time.h>

bool NetStartup() {
  // A send on a connection the peer has reset must fail, not kill the process.
  std::signal(SIGPIPE, SIG_IGN);
  return true;
}

void NetCleanup() {}

static void SetTimeout(SOCKET s, int opt, unsigned ms) {
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(ms / 1000);
  tv.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
  setsockopt(s, SOL_SOCKET, opt, &tv, sizeof tv);
}

void SetRecvTimeoutMs(SOCKET s, unsigned ms) { SetTimeout(s, SO_RCVTIMEO, ms); }
void SetSendTimeoutMs(SOCKET s, unsigned ms) { SetTimeout(s, SO_SNDTIMEO, ms); }
void ShutdownSend(SOCKET s) { shutdown(s, SHUT_WR); }
void ShutdownBoth(SOCKET s) { shutdown(s, SHUT_RDWR); }
void SetNoInherit(SOCKET s) { fcntl(s, F_SETFD, fcntl(s, F_GETFD) | FD_CLOEXEC); }

