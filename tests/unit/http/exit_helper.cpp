// Ends while connection threads run (a stalled download, heads completing as main returns):
// exit code 0, and under TSan no report.
#include "http/listener.h"
#include "http_test_util.h"
#include "test_util.h"

int main() {
  constexpr int kSlowClients = 32;
  NetStartup();
  TempDir dir;
  HostItem("exit-item", dir.Write(L"big.bin", std::string(32u << 20, 'v')), 32u << 20);
  if (!StartServerIfNeeded(nullptr)) return 2;
  const SOCKET download = ConnectLoopback(g_port);  // reads the first bytes, then stops
  SendText(download, Get("/exit-item?dl=1"));
  char first[4096];
  if (recv(download, first, sizeof first, 0) <= 0) return 4;
  std::vector<SOCKET> slow;  // half a head each
  for (int i = 0; i < kSlowClients; ++i) {
    slow.push_back(ConnectLoopback(g_port));
    SendText(slow.back(), "GET /exit-item HTTP/1.1\r\n");
  }
  if (!WaitUntil([] { return g_activeConns.load() == kSlowClients + 1; }, 10000)) return 6;
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  StopServer();
  // The heads complete now: their threads look the item up as the process ends.
  for (const SOCKET s : slow) SendText(s, "\r\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return 0;
}
