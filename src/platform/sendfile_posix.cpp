#include "platform/sendfile.h"

#include <cerrno>
#include <netinet/tcp.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/sendfile.h>
#endif

namespace {

// Upper bound of one sendfile call; each call still waits at most the socket's
// send time-out for progress.
constexpr uint64_t kMaxSendfileChunk = 2u << 20;

}  // namespace

int64_t SendFileToSocket(SOCKET s, FileHandle h, uint64_t offset, uint64_t len, char* buf,
                         size_t bufLen) {
  if (len == 0) return 0;
#ifdef __linux__
  off_t off = static_cast<off_t>(offset);
  const size_t want = static_cast<size_t>(len < kMaxSendfileChunk ? len : kMaxSendfileChunk);
  // Corked, the kernel sends only full segments while the call runs, and the
  // uncork pushes the tail: fewer, fuller pushes cost markedly less CPU per
  // byte than letting every piece of the call push on its own.
  int on = 1;
  int off0 = 0;
  setsockopt(s, IPPROTO_TCP, TCP_CORK, &on, sizeof on);
  ssize_t n;
  do {
    n = ::sendfile(s, static_cast<int>(h), &off, want);
  } while (n < 0 && errno == EINTR);
  const int err = errno;
  setsockopt(s, IPPROTO_TCP, TCP_CORK, &off0, sizeof off0);
  errno = err;
  if (n >= 0) return n;
  // Files sendfile cannot map (some special file systems) go the copying way.
  if (errno != EINVAL && errno != ENOSYS) return -1;
#endif
  return SendFileByCopy(s, h, offset, len, buf, bufLen);
}
