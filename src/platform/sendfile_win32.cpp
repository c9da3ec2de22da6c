#include "platform/sendfile.h"

#include "platform/net_os.h"  // WSAGetLastError

void PrepareFileSendSocket(SOCKET) {}

// Windows keeps read + send (TransmitFile runs only two transfers at a time on
// client editions).
int64_t SendFileToSocket(SOCKET s, FileHandle h, uint64_t offset, uint64_t len, char* buf,
                         size_t bufLen) {
  return SendFileByCopy(s, h, offset, len, buf, bufLen);
}

bool SendFileTimedOut() { return WSAGetLastError() == WSAETIMEDOUT; }

bool UnacknowledgedBytes(SOCKET, uint64_t&) { return false; }
