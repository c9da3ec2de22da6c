// Sockets: the handle type and the calls the server and the links make. The
// OS's own names are in platform/net_os.h, for the seam's files and the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/owned.h"

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
using ScopedSocket = Owned<SOCKET, kInvalidSocket, CloseSocket>;
// SO_REUSEADDR on.
void SetReuseAddress(SOCKET s);
// Binds s to `port` on all IPv4 interfaces (allIfaces) or on 127.0.0.1.
bool BindIPv4(SOCKET s, int port, bool allIfaces);
bool ListenOn(SOCKET s, int backlog);
// The next connection on a listening socket; kInvalidSocket on failure (on a
// non-blocking socket also when none is waiting: SocketWouldBlock()). When
// peerIPv4 is given it receives the peer's IPv4 address in host byte order
// (127.0.0.1 is 0x7F000001), 0 for a peer of another family.
SOCKET AcceptConnection(SOCKET listening, uint32_t* peerIPv4 = nullptr);

// Non-blocking (true) or blocking (false) calls on s; false when refused. On
// Windows an accepted socket inherits the listening socket's mode.
bool SetNonBlocking(SOCKET s, bool on);
// Whether the last failed socket call on this thread only found nothing to do
// on a non-blocking socket (EAGAIN / EWOULDBLOCK / WSAEWOULDBLOCK).
bool SocketWouldBlock();
// Whether the last failed socket call on this thread found no descriptor or
// buffer space left (EMFILE, ENFILE, ENOBUFS / WSAEMFILE, WSAENOBUFS).
bool SocketOutOfDescriptors();

// One socket to watch for input (poll / WSAPoll). `ready` is set when a read
// will not block: bytes, the peer's end, an error, or a connection waiting to
// be accepted.
struct PollSlot {
  SOCKET s = kInvalidSocket;
  bool ready = false;
};
// Waits until some slot is ready or timeoutMs passes (below 0: no limit).
// The number of ready slots, 0 after the time-out, below 0 on failure.
int PollReadable(PollSlot* slots, size_t count, int timeoutMs);

// A datagram socket on 127.0.0.1 connected to itself, non-blocking: a thread
// waiting in PollReadable on it is woken by SendWake from any other thread.
// kInvalidSocket on failure.
SOCKET OpenWakeSocket();
void SendWake(SOCKET wake);
// Reads and discards the wake-ups that arrived.
void DrainWake(SOCKET wake);

// How many descriptors this process may hold at once (the soft descriptor
// limit on POSIX; a large number on Windows, whose sockets have no such limit).
size_t DescriptorLimit();

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

// Keeps s out of child processes (handle inheritance off / FD_CLOEXEC), so a
// started helper program never holds the server's sockets open.
void SetNoInherit(SOCKET s);

// The first IPv4 address the computer's host name resolves to, in dotted
// decimal; empty on any failure.
std::string HostNameIPv4();
