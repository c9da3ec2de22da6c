#include "http/listener.h"

#include <chrono>
#include <cstdint>
#include <random>
#include <system_error>

#include "core/registry.h"
#include "http/handler.h"

std::atomic<SOCKET> g_listenSock{kInvalidSocket};
std::thread g_serverThread;
std::atomic<bool> g_serverRunning{false};
std::atomic<bool> g_listenAllIfaces{false};
std::atomic<int> g_activeConns{0};

namespace {

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

// A failing accept (e.g. no descriptors left) is retried after this pause.
constexpr std::chrono::milliseconds kAcceptBackoff{50};

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

// Clears the stored listening socket, then wakes the accept thread and closes it.
void CloseListenSocket() {
  const SOCKET s = g_listenSock.exchange(kInvalidSocket);
  if (s == kInvalidSocket) return;
  ShutdownBoth(s);
  CloseSocket(s);
}

void JoinAcceptThread() {
  if (g_serverThread.joinable()) g_serverThread.join();
}

// Starts g_serverThread on the accept loop; false if the thread library fails.
bool StartAcceptThread() {
  JoinAcceptThread();
  try {
    g_serverThread = std::thread(ServerThreadProc, g_serverWindow);
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

// Undoes a start whose accept thread could not be started.
void AbandonStart() {
  g_serverRunning.exchange(false);
  CloseListenSocket();
}

struct ConnectionTask {
  SOCKET s;
  HWND hwnd;
  void operator()() const {
    HandleClient(s, hwnd);
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

}  // namespace

bool BindListenSocket(int port, bool allIfaces) {
  const SOCKET s = OpenTcpSocket();
  if (s == kInvalidSocket) return false;
  SetNoInherit(s);
  SetReuseAddress(s);
  if (!BindIPv4(s, port, allIfaces) || !ListenOn(s, kListenBacklog)) {
    CloseSocket(s);
    return false;
  }
  g_listenSock.store(s);
  return true;
}

bool StartServerIfNeeded(HWND hwnd) {
  if (g_serverRunning.load()) return true;
  g_serverWindow = hwnd;
  g_cachedLanIp = GetPreferredNetworkIP();
  const bool wanted = AnyHostedInMode(ShareMode::kLan);

  const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
  std::mt19937 rng(static_cast<uint32_t>(ticks));
  std::uniform_int_distribution<int> dist(kPortMin, kPortMax);
  int port = 0;
  for (int i = 0; i < kPortTries && port == 0; ++i) {
    const int candidate = dist(rng);
    if (ProbePortFree(candidate)) port = candidate;
  }
  if (port == 0) return false;
  if (!BindListenSocket(port, wanted)) return false;

  g_port = port;
  g_listenAllIfaces.exchange(wanted);
  g_serverRunning.exchange(true);
  if (!StartAcceptThread()) {
    AbandonStart();
    g_port = 0;
    g_listenAllIfaces.exchange(false);
    return false;
  }
  return true;
}

void SetServerNotice(ServerNoticeFn fn) { g_serverNotice = fn; }

bool RebindIfModeChanged() {
  if (!g_serverRunning.load()) return true;
  g_cachedLanIp = GetPreferredNetworkIP();
  const bool wanted = AnyHostedInMode(ShareMode::kLan);
  if (wanted == g_listenAllIfaces.load()) return true;

  const int port = g_port;
  g_serverRunning.exchange(false);
  CloseListenSocket();
  JoinAcceptThread();

  if (!BindListenSocket(port, wanted)) {
    Notify(kRebindFailed);
    return false;
  }
  g_listenAllIfaces.exchange(wanted);
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
  g_serverRunning.exchange(false);
  CloseListenSocket();
  JoinAcceptThread();
  g_port = 0;
  g_listenAllIfaces.exchange(false);
}

void ServerThreadProc(HWND hwnd) {
  int failures = 0;
  while (g_serverRunning.load()) {
    const SOCKET c = AcceptConnection(g_listenSock.load());
    if (c == kInvalidSocket) {
      // A stop ends the loop at its test. Anything else is retried, at once the
      // first time, then after a pause, so that a lasting failure (descriptors
      // exhausted) does not spin a core.
      if (++failures > 1 && g_serverRunning.load()) std::this_thread::sleep_for(kAcceptBackoff);
      continue;
    }
    failures = 0;
    SetNoInherit(c);
    if (g_activeConns.load() >= kMaxConnections) {
      RefuseConnection(c);
      continue;
    }
    g_activeConns.fetch_add(1);
    try {
      std::thread(ConnectionTask{c, hwnd}).detach();
    } catch (const std::system_error&) {
      g_activeConns.fetch_sub(1);
      CloseSocket(c);
    }
  }
}
