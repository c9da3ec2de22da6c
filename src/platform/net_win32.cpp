#include "platform/net_os.h"

#include <vector>

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
void SetNoInherit(SOCKET s) {
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
}

bool SetNonBlocking(SOCKET s, bool on) {
  u_long mode = on ? 1 : 0;
  return ioctlsocket(s, FIONBIO, &mode) == 0;
}

bool SocketWouldBlock() { return WSAGetLastError() == WSAEWOULDBLOCK; }
bool SocketOutOfDescriptors() {
  const int e = WSAGetLastError();
  return e == WSAEMFILE || e == WSAENOBUFS;
}

int PollReadable(PollSlot* slots, size_t count, int timeoutMs) {
  thread_local std::vector<WSAPOLLFD> fds;  // kept between calls: the accept loop polls often
  fds.resize(count);
  for (size_t i = 0; i < count; ++i) fds[i] = WSAPOLLFD{slots[i].s, POLLRDNORM, 0};
  const int n = WSAPoll(fds.data(), static_cast<ULONG>(count), timeoutMs < 0 ? -1 : timeoutMs);
  for (size_t i = 0; i < count; ++i) slots[i].ready = n > 0 && fds[i].revents != 0;
  return n;
}

// Windows counts no descriptors against a per-process limit for sockets.
size_t DescriptorLimit() { return 1u << 20; }
