// A program that ends while connection threads still run: the server is
// stopped, but an item is still hosted (nothing emptied the registry), and
// main returns while a download waits for its reader and the request heads
// of slow clients complete. The run must end with exit code 0; built with
// TSan, any report makes it fail.
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "http/listener.h"
#include "http_test_util.h"
#include "test_util.h"

int main() {
  constexpr int kSlowClients = 32;
  NetStartup();
  TempDir dir;
  const std::string body(32u << 20, 'v');
  HostItem("exit-item", dir.Write(L"big.bin", body), "big.bin", body.size());
  if (!StartServerIfNeeded(nullptr)) return 2;

  // A download whose reader stops after the first bytes: its thread waits for
  // room in the socket, holding the item.
  const SOCKET download = ConnectLoopback(g_port);
  if (download == INVALID_SOCKET) return 3;
  SendText(download, "GET /exit-item?dl=1 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  char first[4096];
  if (recv(download, first, sizeof first, 0) <= 0) return 4;

  // Slow clients: half a head each, their threads waiting for the rest.
  std::vector<SOCKET> slow;
  for (int i = 0; i < kSlowClients; ++i) {
    const SOCKET s = ConnectLoopback(g_port);
    if (s == INVALID_SOCKET) return 5;
    SendText(s, "GET /exit-item HTTP/1.1\r\n");
    slow.push_back(s);
  }
  if (!WaitUntil([] { return g_activeConns.load() == kSlowClients + 1; }, 10000)) return 6;
  std::this_thread::sleep_for(std::chrono::milliseconds(200));

  StopServer();
  // The heads complete now: their threads look the item up as the process
  // ends, the item still hosted.
  for (const SOCKET s : slow) SendText(s, "\r\n");
  // Some have found nothing or sent their page by now and are ending their
  // connections; others are still looking.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return 0;
}
