// The socket calls both systems spell the same way (Berkeley sockets; the
// POSIX names of Winsock's few differences come from net_os.h).
#include "platform/net_os.h"

#include <string>

void SetNoDelay(SOCKET s) {
  int one = 1;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
}

SOCKET OpenTcpSocket() { return socket(AF_INET, SOCK_STREAM, IPPROTO_TCP); }
void CloseSocket(SOCKET s) { closesocket(s); }
void SetReuseAddress(SOCKET s) {
  int one = 1;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&one), sizeof one);
}
bool BindIPv4(SOCKET s, int port, bool allIfaces) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(allIfaces ? INADDR_ANY : INADDR_LOOPBACK);
  return bind(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
}
bool ListenOn(SOCKET s, int backlog) { return listen(s, backlog) == 0; }
SOCKET AcceptConnection(SOCKET listening, uint32_t* peerIPv4) {
  sockaddr_storage peer{};
  socklen_t peerLen = sizeof peer;
  const SOCKET s = accept(listening, reinterpret_cast<sockaddr*>(&peer), &peerLen);
  if (peerIPv4) {
    const bool v4 = s != kInvalidSocket && peer.ss_family == AF_INET;
    *peerIPv4 = v4 ? ntohl(reinterpret_cast<const sockaddr_in*>(&peer)->sin_addr.s_addr) : 0;
  }
  return s;
}

SOCKET OpenWakeSocket() {
  ScopedSocket s(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  if (!s) return kInvalidSocket;
  SetNoInherit(s.get());
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  auto* a = reinterpret_cast<sockaddr*>(&addr);
  if (bind(s.get(), a, sizeof addr) != 0 || getsockname(s.get(), a, &len) != 0 ||
      connect(s.get(), a, sizeof addr) != 0 || !SetNonBlocking(s.get(), true))
    return kInvalidSocket;
  return s.release();
}

void SendWake(SOCKET wake) { (void)send(wake, "w", 1, 0); }

void DrainWake(SOCKET wake) {
  char buf[16];
  int left = 1024;  // bounded: a flood of wake-ups cannot hold the caller
  while (left-- > 0 && recv(wake, buf, sizeof buf, 0) > 0) continue;
}
int SendSome(SOCKET s, const char* data, int len) { return static_cast<int>(send(s, data, len, 0)); }
int RecvSome(SOCKET s, char* buf, int len) { return static_cast<int>(recv(s, buf, len, 0)); }

std::string HostNameIPv4() {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) return std::string();
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &res) != 0 || !res) return std::string();
  char text[22] = {};
  const auto* sin = reinterpret_cast<const sockaddr_in*>(res->ai_addr);
  const char* ok = sin ? inet_ntop(AF_INET, &sin->sin_addr, text, sizeof text) : nullptr;
  freeaddrinfo(res);
  return ok ? std::string(text) : std::string();
}
