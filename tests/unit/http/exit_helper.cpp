// Ends while connection threads run (stalled downloads) after a stop that closed the connections
// still waiting for their heads: exit code 0, and under TSan no report.
#include "http/listener.h"
#include "http_test_util.h"
#include "test_util.h"

int main() {
  constexpr int kSlowClients = 16;
  NetStartup();
  TempDir dir;
  HostItem("exit-item", dir.Write(L"big.bin", std::string(32u << 20, 'v')), 32u << 20);
  if (StartServerIfNeeded(nullptr, AnyHostedInMode(ShareMode::kLan)) != ServerStart::kRunning) return 2;
  std::vector<SOCKET> downloads;  // each reads its first bytes, then stops
  for (int i = 0; i < kSlowClients; ++i) {
    downloads.push_back(ConnectLoopback(ServerPort()));
    SendText(downloads.back(), Get("/exit-item?dl=1"));
    char first[4096];
    if (recv(downloads.back(), first, sizeof first, 0) <= 0) return 4;
  }
  std::vector<SOCKET> waiting;  // half a head each
  for (int i = 0; i < kSlowClients; ++i) {
    waiting.push_back(ConnectLoopback(ServerPort()));
    SendText(waiting.back(), "GET /exit-item HTTP/1.1\r\n");
  }
  if (!WaitUntil([] { return ActiveConnectionCount() == kSlowClients && WaitingConnectionCount() == kSlowClients; }, 10000))
    return 6;
  StopServer();
  // The stop closed the waiting connections: each sees the end, without an answer.
  for (const SOCKET s : waiting) {
    bool timedOut = true;
    if (!ReadAll(s, 5000, &timedOut).empty() || timedOut) return 8;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return 0;
}
