#include "platform/sendfile.h"

int64_t SendFileByCopy(SOCKET s, FileHandle h, uint64_t offset, uint64_t len, char* buf,
                       size_t bufLen) {
  if (len == 0) return 0;
  const size_t want = len < bufLen ? static_cast<size_t>(len) : bufLen;
  const int64_t got = ReadFileAt(h, offset, buf, want);
  if (got <= 0) return got;
  int64_t sent = 0;
  while (sent < got) {
    const int n = SendSome(s, buf + sent, static_cast<int>(got - sent));
    // What went out before a failure is reported; the failure shows again
    // on the next call.
    if (n <= 0) return sent > 0 ? sent : -1;
    sent += n;
  }
  return got;
}
