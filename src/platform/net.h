// Sockets: the handle type and the calls the server and the links make. The
// OS's own names are in platform/net_os.h, for the seam's files and the tests.
#pragma once

#include <cstdint>
#include <string>

// Winsock's own SOCKET type (UINT_PTR) on Windows, a descriptor on POSIX; the
// two declarations agree, so net_os.h's system headers may follow.
#ifdef _WIN32
typedef uintptr_t SOCKET;
#else
typedef int SOCKET;
#endif
// INVALID_SOCKET of both systems (~0 on Windows, -1 on POSIX).
constexpr SOCKET kInvalidSocket = static_cast<SOCKET>(-1);

// Start and end of the network stack (WSAStartup 2.2 / WSACleanup). On POSIX,
// NetStartup makes a send on a reset connection fail with an error instead of
// raising SIGPIPE.
bool NetStartup();
void NetCleanup();

// A TCP socket for IPv4; kInvalidSocket on failure.
SOCKET OpenTcpSocket();
// closesocket / close.
void CloseSocket(SOCKET s);
// SO_REUSEADDR on.
void SetReuseAddress(SOCKET s);
// Binds s to `port` on all IPv4 interfaces (allIfaces) or on 127.0.0.1.
bool BindIPv4(SOCKET s, int port, bool allIfaces);
bool ListenOn(SOCKET s, int backlog);
// The next connection on a listening socket (its peer's address is not
// kept); kInvalidSocket on failure.
SOCKET AcceptConnection(SOCKET listening);

// One send / recv call: the bytes moved, 0 when the peer ended its side
// (recv), below 0 on an error or a time-out.
int SendSome(SOCKET s, const char* data, int len);
int RecvSome(SOCKET s, char* buf, int len);

// SO_RCVTIMEO / SO_SNDTIMEO in milliseconds (DWORD on Windows, timeval on POSIX).
// Results are ignored by callers, so none is returned.
void SetRecvTimeoutMs(SOCKET s, unsigned ms);
void SetSendTimeoutMs(SOCKET s, unsigned ms);

// TCP_NODELAY: every send goes out at once instead of waiting for the
// acknowledgement of earlier small segments (Nagle's algorithm).
void SetNoDelay(SOCKET s);

// Half-close: no more data will be sent on s (SD_SEND / SHUT_WR).
void ShutdownSend(SOCKET s);
// Both directions (SD_BOTH / SHUT_RDWR). On a listening socket this wakes an
// accept blocked on another thread (Linux does not wake it on close alone).
void ShutdownBoth(SOCKET s);

// Keeps s out of child processes (handle inheritance off / FD_CLOEXEC), so a
// started helper program never holds the server's sockets open.
void SetNoInherit(SOCKET s);

// The first IPv4 address the computer's host name resolves to, in dotted
// decimal; empty on any failure.
std::string HostNameIPv4();
