#include "platform/net_os.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/time.h>

#include <vector>

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
void SetNoInherit(SOCKET s) { fcntl(s, F_SETFD, fcntl(s, F_GETFD) | FD_CLOEXEC); }

bool SetNonBlocking(SOCKET s, bool on) {
  const int flags = fcntl(s, F_GETFL);
  if (flags < 0) return false;
  return fcntl(s, F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK)) == 0;
}

bool SocketWouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK; }
bool SocketOutOfDescriptors() { return errno == EMFILE || errno == ENFILE || errno == ENOBUFS; }

int PollReadable(PollSlot* slots, size_t count, int timeoutMs) {
  thread_local std::vector<pollfd> fds;  // kept between calls: the accept loop polls often
  fds.resize(count);
  for (size_t i = 0; i < count; ++i) fds[i] = pollfd{slots[i].s, POLLIN, 0};
  const int n = poll(fds.data(), static_cast<nfds_t>(count), timeoutMs < 0 ? -1 : timeoutMs);
  for (size_t i = 0; i < count; ++i) slots[i].ready = n > 0 && fds[i].revents != 0;
  return n;
}

size_t DescriptorLimit() {
  rlimit r{};
  if (getrlimit(RLIMIT_NOFILE, &r) != 0 || r.rlim_cur == RLIM_INFINITY) return 1u << 20;
  return static_cast<size_t>(r.rlim_cur);
}
