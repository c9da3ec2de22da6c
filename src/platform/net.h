// Sockets. On Windows this is Winsock itself; on POSIX the same four names
// (SOCKET, INVALID_SOCKET, SOCKET_ERROR, closesocket) are given over int/close,
// so the server code reads the same on both systems.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
using SOCKET = int;
constexpr SOCKET INVALID_SOCKET = -1;
constexpr int SOCKET_ERROR = -1;
inline int closesocket(SOCKET s) { return ::close(s); }
#endif

// Start and end of the network stack (WSAStartup 2.2 / WSACleanup). On POSIX,
// NetStartup makes a send on a reset connection fail with an error instead of
// raising SIGPIPE.
bool NetStartup();
void NetCleanup();

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
