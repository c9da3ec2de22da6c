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
void SetNoDelay(SOCKET s) {
  int one = 1;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
}
void ShutdownSend(SOCKET s) { shutdown(s, SD_SEND); }
void ShutdownBoth(SOCKET s) { shutdown(s, SD_BOTH); }
void SetNoInherit(SOCKET s) {
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
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
SOCKET AcceptConnection(SOCKET listening) {
  sockaddr_in peer{};
  socklen_t peerLen = sizeof peer;
  return accept(listening, reinterpret_cast<sockaddr*>(&peer), &peerLen);
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
