#include "platform/sendfile.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/sockios.h>
#include <sys/sendfile.h>
#endif

namespace {

#ifdef __linux__
// Upper bound of one sendfile call. Calls of about a quarter MiB, each made
// only when the socket has room, cost the least CPU per byte over loopback:
// larger calls, and calls that sleep inside the kernel waiting for room, both
// cost more. One byte short of 256 KiB on purpose: calls that all end on the
// same page boundary measured a sixth slower (bench/http_download.sh).
constexpr size_t kMaxSendfileChunk = (256u << 10) - 1;

// Send buffer asked for each download (Linux doubles it for its bookkeeping):
// enough for a LAN path's bandwidth-delay product, far below the 4 MiB
// autotuning reaches.
constexpr int kFileSendBufferBytes = 1 << 20;

// The socket's send time-out in milliseconds for poll(2): -1 when none is set.
int SendTimeoutMs(SOCKET s) {
  timeval tv{};
  socklen_t len = sizeof tv;
  if (getsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tv, &len) != 0) return -1;
  if (tv.tv_sec == 0 && tv.tv_usec == 0) return -1;
  return static_cast<int>(tv.tv_sec * 1000 + (tv.tv_usec + 999) / 1000);
}

// One sendfile call on a non-blocking socket; when the socket has no room it
// waits for room up to the send time-out, as a blocking call would.
ssize_t SendfileWhenWritable(SOCKET s, int fd, off_t& off, size_t want) {
  int timeoutMs = -2;  // fetched on the first wait only
  for (;;) {
    const ssize_t n = ::sendfile(s, fd, &off, want);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
    if (timeoutMs == -2) timeoutMs = SendTimeoutMs(s);
    pollfd p{s, POLLOUT, 0};
    int r;
    do {
      r = poll(&p, 1, timeoutMs);
    } while (r < 0 && errno == EINTR);
    if (r == 0) errno = ETIMEDOUT;
    if (r <= 0) return -1;
    // POLLERR or POLLHUP: the next sendfile reports the error.
  }
}
#endif

}  // namespace

void PrepareFileSendSocket(SOCKET s) {
#ifdef __linux__
  setsockopt(s, SOL_SOCKET, SO_SNDBUF, &kFileSendBufferBytes, sizeof kFileSendBufferBytes);
#else
  (void)s;
#endif
}

int64_t SendFileToSocket(SOCKET s, FileHandle h, uint64_t offset, uint64_t len, char* buf,
                         size_t bufLen) {
  if (len == 0) return 0;
#ifdef __linux__
  // The socket is non-blocking only for the duration of the call, so every
  // other user of it (request reading, the graceful close) keeps its time-outs.
  const int flags = fcntl(s, F_GETFL);
  if (flags >= 0 && ((flags & O_NONBLOCK) != 0 || fcntl(s, F_SETFL, flags | O_NONBLOCK) == 0)) {
    off_t off = static_cast<off_t>(offset);
    const size_t want = static_cast<size_t>(len < kMaxSendfileChunk ? len : kMaxSendfileChunk);
    const ssize_t n = SendfileWhenWritable(s, static_cast<int>(h), off, want);
    const int err = errno;
    if ((flags & O_NONBLOCK) == 0) fcntl(s, F_SETFL, flags);
    if (n >= 0) return n;
    // Files sendfile cannot map (some special file systems) go the copying way.
    if (err != EINVAL && err != ENOSYS) {
      errno = err;
      return -1;
    }
  }
#endif
  return SendFileByCopy(s, h, offset, len, buf, bufLen);
}

bool SendFileTimedOut() { return errno == ETIMEDOUT || errno == EAGAIN || errno == EWOULDBLOCK; }

bool UnacknowledgedBytes(SOCKET s, uint64_t& queued) {
#ifdef __linux__
  int n = 0;
  if (ioctl(s, SIOCOUTQ, &n) != 0 || n < 0) return false;
  queued = static_cast<uint64_t>(n);
  return true;
#else
  (void)s;
  (void)queued;
  return false;
#endif
}
