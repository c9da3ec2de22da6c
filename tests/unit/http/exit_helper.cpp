// Ends while connection threads run (a stalled download, heads completing as main returns):
// exit code 0, and under TSan no report.
#include "http/listener.h"
#include "http_test_util.h"
#include "test_util.h"

int main() {
  NetStartup();
  TempDir dir;
  HostItem("exit-item", dir.Write(L"big.bin", std::string(32u << 20, 'v')), 32u << 20);
  if (!StartServerIfNeeded(nullptr)) return 2;
  const SOCKET download = ConnectLoopback(g_port);  // reads the first bytes, then stops
  SendText(download, Get("/exit-item?dl=1"));
  char first[4096];
  if (recv(download, first, sizeof first, 0) <= 0) return 4;
  std::vector<SOCKET> slow(32);  // half a head each
  for (SOCKET& s : slow) s = ConnectLoopback(g_port), SendText(s, "GET /exit-item HTTP/1.1\r\n");
  if (!WaitUntil([] { return g_activeConns.load() == 33; }, 10000)) return 6;
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  StopServer();
  for (const SOCKET s : slow) SendText(s, "\r\n");  // their threads look the item up as the process ends
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return 0;
}
