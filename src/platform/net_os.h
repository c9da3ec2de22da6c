// The system's socket headers, for the seam's own files and for tests that
// speak to the server with plain socket calls. On Windows this is Winsock
// itself; on POSIX the same four names (SOCKET, INVALID_SOCKET, SOCKET_ERROR,
// closesocket) are given over int/close. Portable code includes net.h only.
#pragma once

#include "platform/net.h"

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
constexpr SOCKET INVALID_SOCKET = -1;
constexpr int SOCKET_ERROR = -1;
inline int closesocket(SOCKET s) { return ::close(s); }
#endif
