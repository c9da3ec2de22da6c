// The server's listening socket, its accept thread and the detached thread of
// every accepted connection. The control functions run on the GUI thread only.
//
// The socket listens on all IPv4 interfaces when the sharing layer asks for it
// (exactly when some hosted item is same-network), else on 127.0.0.1 (the
// tunnel client connects there). The port, drawn once at start, stays while the server runs, across
// moves between the two addresses.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>

#include "core/links.h"  // ServerPort, LanAddress
#include "platform/net.h"
#include "platform/types.h"

constexpr int kListenBacklog = 32;
constexpr int kMaxConnections = 64;  // connection threads at once; the next one gets a 503
// Of those, the most one peer address holds; its next request gets the 503.
// The tunnel client (kTunnelPeer) carries every Internet recipient and is not
// limited this way; every other address, other loopback ones included, is a device.
constexpr int kMaxPerDevice = 16;
constexpr uint32_t kTunnelPeer = 0x7F000001;  // 127.0.0.1
// Accepted connections wait for their request head on the accept thread, not
// on a connection thread. At most this many wait at once (fewer when the
// descriptor limit is low); a newcomer beyond that closes the one that has
// waited longest.
constexpr size_t kMaxWaiting = 1024;
constexpr int kPortMin = 20000;
constexpr int kPortMax = 49999;
constexpr int kPortTries = 30;

// The server's state, this file's own: whether the accept loop runs, whether
// it listens on all interfaces (else on 127.0.0.1), the connection threads
// started and not finished, and the listening socket (kInvalidSocket while
// stopped; tests check its flags). Any thread may ask.
bool ServerRunning();
bool ListeningOnAllInterfaces();
int ActiveConnectionCount();
SOCKET ListeningSocket();

// Connections accepted and still waiting for their request head.
int WaitingConnectionCount();

// Creates, binds (SO_REUSEADDR) and starts listening on a socket for `port` on
// all interfaces or on 127.0.0.1; on success it is the listening socket.
bool BindListenSocket(int port, bool allIfaces);

// How a start of the server ended: it runs (kRunning), none of kPortTries
// random ports was free, the chosen one could not be bound and listened on,
// or the accept thread could not start. Anything but kRunning leaves it stopped.
enum class ServerStart { kRunning, kNoFreePort, kBindFailed, kNoThread };

// Starts the server on a free random port in 20000-49999 unless it runs,
// listening on all interfaces or on 127.0.0.1 as `allInterfaces` says (the
// caller: whether any item is same-network); refreshes the LAN address first
// (RefreshLanAddress). Ended downloads are reported as kDownloadDone events
// waking hwnd, also after a re-bind.
ServerStart StartServerIfNeeded(HWND hwnd, bool allInterfaces);

// While running: re-binds on the same port when `allInterfaces` differs from
// the current binding (refreshing the LAN address first). False when that
// failed: the server stays stopped, the notice below tells the user, and the
// next StartServerIfNeeded draws a new port.
bool SetListenAllInterfaces(bool allInterfaces);

// Where the server's messages for the user go (the status line); the sharing
// layer sets it before it starts the server. Messages are dropped while none
// is set.
using ServerNoticeFn = void (*)(const wchar_t* text);
void SetServerNotice(ServerNoticeFn fn);

// While running: ends the accept thread and closes the listening socket and
// the connections waiting for their head. Running connections go on to their end.
void StopServer();

// The accept loop and waiting room (run on the accept thread with the window of
// the last start).
void ServerThreadProc(HWND hwnd);
