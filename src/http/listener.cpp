#include "http/listener.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <random>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "http/handler.h"
#include "http/request.h"

namespace {

// The listening socket, kInvalidSocket while stopped. Written on the GUI thread,
// read afresh by the accept thread for every accept (hence atomic).
std::atomic<SOCKET> g_listenSock{kInvalidSocket};
std::thread g_serverThread;                  // the accept thread; GUI thread only
std::atomic<bool> g_serverRunning{false};    // the accept loop runs while true
std::atomic<bool> g_listenAllIfaces{false};  // bound to 0.0.0.0 (true) or 127.0.0.1
std::atomic<int> g_activeConns{0};           // connection threads started and not finished

// The answer to a connection beyond kMaxConnections (148 bytes).
constexpr char k503[] =
    "HTTP/1.1 503 Service Unavailable\r\nRetry-After: 5\r\nX-Content-Type-Options: "
    "nosniff\r\nCache-Control: no-store\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
constexpr int k503Len = static_cast<int>(sizeof k503 - 1);

// Refused connections are closed on threads of their own after their request
// was read (closing unread input would reset the connection and could destroy
// the 503 on its way). At most this many at once; beyond that a refused
// connection is closed at once.
constexpr int kMaxRefusing = 16;
std::atomic<int> g_refusingConns{0};

// A failing accept (e.g. no descriptors left) or poll is retried after this pause.
constexpr int64_t kAcceptBackoffMs = 50;
// Accepts per wake-up, so that a flood of connections cannot starve the reads.
constexpr int kAcceptBurst = 64;
// Descriptors left to everything but waiting connections (connection threads,
// their files, the tunnel client's pipes) when the descriptor limit is low.
constexpr size_t kReservedDescriptors = 256;
// Bytes read from a waiting connection per readiness.
constexpr size_t kRecvChunk = 2048;

// Wakes the accept thread from its wait (a stop or a re-bind). Opened before
// the thread starts, closed after it has been joined.
std::atomic<SOCKET> g_wakeSock{kInvalidSocket};
std::atomic<int> g_waitingConns{0};

// The peer of each connection thread, as address + 1 (0: a free slot). The
// accept thread claims a slot before it starts a thread, the thread frees it
// at its end; plain atomics, so nothing is destroyed under threads still
// running as the process ends.
constexpr uint64_t kFreeSlot = 0;
std::atomic<uint64_t> g_slotPeer[kMaxConnections];

// A connection waiting for its request head.
struct Waiting {
  ScopedSocket s;
  uint32_t peer = 0;
  int64_t deadlineMs = 0;
  std::string head;  // what arrived so far
};

// The accept thread's own state.
struct WaitingRoom {
  std::vector<Waiting> conns;  // in order of arrival: the first has waited longest
  size_t capacity = kMaxWaiting;
  int64_t acceptPausedUntilMs = 0;
};

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

constexpr const wchar_t* kRebindFailed = L"Server rebind failed. Stop all and restart sharing.";

ServerNoticeFn g_serverNotice = nullptr;

// The window that connection threads report to, as the last start got it;
// the accept thread of a re-bind keeps it.
HWND g_serverWindow = nullptr;

void Notify(const wchar_t* text) {
  if (g_serverNotice) g_serverNotice(text);
}

// Whether nothing holds the port on any interface: a plain bind to 0.0.0.0.
bool ProbePortFree(int port) {
  const SOCKET probe = OpenTcpSocket();
  if (probe == kInvalidSocket) return false;
  const bool ok = BindIPv4(probe, port, true);
  CloseSocket(probe);
  return ok;
}

// Clears the stored listening socket and closes it; the accept thread has
// ended (or never started) by then.
void CloseListenSocket() {
  const SOCKET s = g_listenSock.exchange(kInvalidSocket);
  if (s != kInvalidSocket) CloseSocket(s);
}

void JoinAcceptThread() {
  if (g_serverThread.joinable()) g_serverThread.join();
}

void CloseWakeSocket() {
  const SOCKET s = g_wakeSock.exchange(kInvalidSocket);
  if (s != kInvalidSocket) CloseSocket(s);
}

// Starts g_serverThread on the accept loop with a fresh wake socket; false if
// either cannot be had.
bool StartAcceptThread() {
  JoinAcceptThread();
  CloseWakeSocket();
  g_wakeSock.store(OpenWakeSocket());
  if (g_wakeSock.load() == kInvalidSocket) return false;
  try {
    g_serverThread = std::thread(ServerThreadProc, g_serverWindow);
  } catch (const std::system_error&) {
    CloseWakeSocket();
    return false;
  }
  return true;
}

// Ends the accept loop: the cleared flag is seen once the wake-up ends its
// wait; the waiting connections are closed as the thread ends.
void EndAcceptThread() {
  g_serverRunning.exchange(false);
  const SOCKET wake = g_wakeSock.load();
  if (wake != kInvalidSocket) SendWake(wake);
  JoinAcceptThread();
  CloseWakeSocket();
}

// Undoes a start whose accept thread could not be started.
void AbandonStart() {
  g_serverRunning.exchange(false);
  CloseListenSocket();
}

struct ConnectionTask {
  SOCKET s;
  HWND hwnd;
  int slot;
  std::string head;
  void operator()() {
    HandleClientWithHead(s, hwnd, std::move(head));
    g_slotPeer[slot].store(kFreeSlot);
    g_activeConns.fetch_sub(1);
  }
};

struct RefusalTask {
  SOCKET s;
  void operator()() const {
    CloseGracefully(s);
    g_refusingConns.fetch_sub(1);
  }
};

// The 503 answer, then an orderly end: the peer's request is read and thrown
// away before the socket closes, on a bounded number of short-lived threads.
void RefuseConnection(SOCKET s) {
  SendSome(s, k503, k503Len);
  ShutdownSend(s);
  if (g_refusingConns.fetch_add(1) >= kMaxRefusing) {
    g_refusingConns.fetch_sub(1);
    CloseSocket(s);
    return;
  }
  try {
    std::thread(RefusalTask{s}).detach();
  } catch (const std::system_error&) {
    g_refusingConns.fetch_sub(1);
    CloseSocket(s);
  }
}

// A free thread slot for a connection from peer, claimed; -1 when none is
// free or the peer (a device, not the tunnel client) holds its share already.
int ClaimSlot(uint32_t peer) {
  const uint64_t mine = uint64_t{peer} + 1;
  int held = 0;
  int free = -1;
  for (int i = 0; i < kMaxConnections; ++i) {
    const uint64_t p = g_slotPeer[i].load();
    if (p == kFreeSlot && free < 0) free = i;
    held += p == mine;
  }
  if (free < 0 || (peer != kTunnelPeer && held >= kMaxPerDevice)) return -1;
  g_slotPeer[free].store(mine);
  return free;
}

// A head is complete (or too large): the connection leaves the room for a
// thread of its own, or gets the 503 when none is free for it.
void Dispatch(Waiting& w, HWND hwnd) {
  const SOCKET s = w.s.release();
  SetNonBlocking(s, false);
  const int slot = g_activeConns.load() < kMaxConnections ? ClaimSlot(w.peer) : -1;
  if (slot < 0) {
    RefuseConnection(s);
    return;
  }
  g_activeConns.fetch_add(1);
  try {
    std::thread(ConnectionTask{s, hwnd, slot, std::move(w.head)}).detach();
  } catch (const std::system_error&) {
    g_slotPeer[slot].store(kFreeSlot);
    g_activeConns.fetch_sub(1);
    CloseSocket(s);
  }
}

// Reads what has arrived on a ready connection. A peer that ends or fails
// before its head is complete is closed without an answer.
void ReadWaiting(Waiting& w, HWND hwnd) {
  char buf[kRecvChunk];
  const int n = RecvSome(w.s.get(), buf, sizeof buf);
  if (n < 0 && SocketWouldBlock()) return;
  if (n <= 0) {
    w.s.reset();
    return;
  }
  const size_t before = w.head.size();
  w.head.append(buf, static_cast<size_t>(n));
  if (CheckHead(w.head, before) != HeadState::kIncomplete) Dispatch(w, hwnd);
}

// A failing accept: when descriptors ran out, the longest waiting gives its
// up; accepting pauses a moment so that a lasting failure does not spin.
void PauseAccepting(WaitingRoom& room) {
  if (SocketOutOfDescriptors() && !room.conns.empty()) room.conns.erase(room.conns.begin());
  room.acceptPausedUntilMs = NowMs() + kAcceptBackoffMs;
}

// Takes the connections waiting on the listening socket into the room; a
// full room closes its longest-waiting connection for each newcomer. A head
// that came with the connection (the usual case) is read at once, saving a
// wait for it.
void AcceptNewcomers(SOCKET listening, WaitingRoom& room, HWND hwnd) {
  for (int i = 0; i < kAcceptBurst; ++i) {
    uint32_t peer = 0;
    ScopedSocket c(AcceptConnection(listening, &peer));
    if (!c) {
      if (!SocketWouldBlock()) PauseAccepting(room);  // reads the failure first
      return;
    }
    SetNoInherit(c.get());
    if (!SetNonBlocking(c.get(), true)) continue;
    Waiting w{std::move(c), peer, NowMs() + kHeadDeadlineMs, {}};
    ReadWaiting(w, hwnd);
    if (!w.s.valid()) continue;  // answered, or gone already
    if (room.conns.size() >= room.capacity) room.conns.erase(room.conns.begin());
    room.conns.push_back(std::move(w));
  }
}

// Closes, without an answer, the connections whose head is late.
void DropExpired(WaitingRoom& room, int64_t now) {
  auto late = room.conns.begin();
  while (late != room.conns.end() && late->deadlineMs <= now) ++late;
  room.conns.erase(room.conns.begin(), late);
}

size_t WaitingCapacity() {
  const size_t limit = DescriptorLimit();
  const size_t spare = limit > kReservedDescriptors ? limit - kReservedDescriptors : 0;
  return std::clamp(spare, size_t{kMaxConnections}, kMaxWaiting);
}

// Until the nearest deadline (the first connection's) or the end of an accept
// pause; -1 (no limit) with neither.
int PollTimeoutMs(const WaitingRoom& room, int64_t now) {
  int64_t until = room.conns.empty() ? INT64_MAX : room.conns.front().deadlineMs;
  if (room.acceptPausedUntilMs > now) until = std::min(until, room.acceptPausedUntilMs);
  if (until == INT64_MAX) return -1;
  return static_cast<int>(std::clamp<int64_t>(until - now, 0, INT_MAX));
}

bool Accepting(const WaitingRoom& room, int64_t now) { return room.acceptPausedUntilMs <= now; }

// The wake socket, every waiting connection, then the listening socket unless
// accepting pauses.
void FillPollSlots(std::vector<PollSlot>& slots, const WaitingRoom& room, SOCKET listening,
                   SOCKET wake, int64_t now) {
  slots.clear();
  slots.push_back(PollSlot{wake});
  for (const Waiting& w : room.conns) slots.push_back(PollSlot{w.s.get()});
  if (Accepting(room, now)) slots.push_back(PollSlot{listening});
}

// One wait and what it found: reads, then newcomers, then late heads.
void ServeRound(WaitingRoom& room, std::vector<PollSlot>& slots, SOCKET listening, SOCKET wake,
                HWND hwnd) {
  const int64_t now = NowMs();
  const bool accepting = Accepting(room, now);
  FillPollSlots(slots, room, listening, wake, now);
  if (PollReadable(slots.data(), slots.size(), PollTimeoutMs(room, now)) < 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kAcceptBackoffMs));
    return;
  }
  if (slots[0].ready) DrainWake(wake);
  for (size_t i = 0; i < room.conns.size(); ++i)
    if (slots[i + 1].ready) ReadWaiting(room.conns[i], hwnd);
  std::erase_if(room.conns, [](const Waiting& w) { return !w.s.valid(); });
  if (accepting && slots.back().ready) AcceptNewcomers(listening, room, hwnd);
  DropExpired(room, NowMs());
}

}  // namespace

int WaitingConnectionCount() { return g_waitingConns.load(); }

bool BindListenSocket(int port, bool allIfaces) {
  const SOCKET s = OpenTcpSocket();
  if (s == kInvalidSocket) return false;
  SetNoInherit(s);
  SetReuseAddress(s);
  // Non-blocking: a connection that is gone again between the wake-up and
  // accept must not hold the accept thread.
  if (!BindIPv4(s, port, allIfaces) || !ListenOn(s, kListenBacklog) || !SetNonBlocking(s, true)) {
    CloseSocket(s);
    return false;
  }
  g_listenSock.store(s);
  return true;
}

ServerStart StartServerIfNeeded(HWND hwnd, bool allInterfaces) {
  if (g_serverRunning.load()) return ServerStart::kRunning;
  g_serverWindow = hwnd;
  RefreshLanAddress();

  const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
  std::mt19937 rng(static_cast<uint32_t>(ticks));
  std::uniform_int_distribution<int> dist(kPortMin, kPortMax);
  int port = 0;
  for (int i = 0; i < kPortTries && port == 0; ++i) {
    const int candidate = dist(rng);
    if (ProbePortFree(candidate)) port = candidate;
  }
  if (port == 0) return ServerStart::kNoFreePort;
  if (!BindListenSocket(port, allInterfaces)) return ServerStart::kBindFailed;

  SetServerPort(port);
  g_listenAllIfaces.exchange(allInterfaces);
  g_serverRunning.exchange(true);
  if (!StartAcceptThread()) {
    AbandonStart();
    SetServerPort(0);
    g_listenAllIfaces.exchange(false);
    return ServerStart::kNoThread;
  }
  return ServerStart::kRunning;
}

void SetServerNotice(ServerNoticeFn fn) { g_serverNotice = fn; }

bool SetListenAllInterfaces(bool allInterfaces) {
  if (!g_serverRunning.load()) return true;
  RefreshLanAddress();
  if (allInterfaces == g_listenAllIfaces.load()) return true;

  const int port = ServerPort();
  EndAcceptThread();
  CloseListenSocket();

  if (!BindListenSocket(port, allInterfaces)) {
    Notify(kRebindFailed);
    return false;
  }
  g_listenAllIfaces.exchange(allInterfaces);
  g_serverRunning.exchange(true);
  if (!StartAcceptThread()) {
    AbandonStart();
    Notify(kRebindFailed);
    return false;
  }
  return true;
}

void StopServer() {
  if (!g_serverRunning.load()) return;
  EndAcceptThread();
  CloseListenSocket();
  SetServerPort(0);
  g_listenAllIfaces.exchange(false);
}

bool ServerRunning() { return g_serverRunning.load(); }
bool ListeningOnAllInterfaces() { return g_listenAllIfaces.load(); }
int ActiveConnectionCount() { return g_activeConns.load(); }
SOCKET ListeningSocket() { return g_listenSock.load(); }

void ServerThreadProc(HWND hwnd) {
  const SOCKET listening = g_listenSock.load();
  const SOCKET wake = g_wakeSock.load();
  WaitingRoom room;
  room.capacity = WaitingCapacity();
  std::vector<PollSlot> slots;
  while (g_serverRunning.load()) {
    ServeRound(room, slots, listening, wake, hwnd);
    g_waitingConns.store(static_cast<int>(room.conns.size()));
  }
  room.conns.clear();  // closes them
  g_waitingConns.store(0);
}
