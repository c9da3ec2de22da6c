#include "platform/net_os.h"

bool NetStartup() {
  WSADATA data{};
  return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void NetCleanup() { WSACleanup(); }

static void SetTimeout(SOCKET s, int opt, unsigned ms) {
  DWORD v = ms;
  setsockopt(s, SOL_SOCKET, opt, reinterpret_cast<const char*>(&v), sizeof v);
}

void SetRecvTimeoutMs(SOCKET s, unsigned ms) { SetTimeout(s, SO_RCVTIMEO, ms); }
void SetSendTimeoutMs(SOCKET s, unsigned ms) { SetTimeout(s, SO_SNDTIMEO, ms); }
void ShutdownSend(SOCKET s) { shutdown(s, SD_SEND); }
void ShutdownBoth(SOCKET s) { shutdown(s, SD_BOTH); }
void SetNoInherit(SOCKET s) {
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
}

