// Loopback clients and temporary files for tests.
#pragma once

#include <cstdint>
#include <string>

#include "platform/net_os.h"

// Connected over 127.0.0.1 (`server`: what accept returned); both invalid on failure.
struct LoopbackPair { SOCKET server = INVALID_SOCKET, client = INVALID_SOCKET; };
LoopbackPair MakeLoopbackPair();
SOCKET ConnectLoopback(int port);  // INVALID_SOCKET on failure
// From the loopback address `from` ("127.0.0.2": another device to the server) to 127.0.0.1:port.
SOCKET ConnectFrom(const char* from, int port);
bool SendText(SOCKET s, const std::string& bytes);
// Reads until the peer closes, an error (`reset`), the time-out (ms, per receive) or maxBytes.
std::string ReadAll(SOCKET s, unsigned timeoutMs = 5000, bool* reset = nullptr, size_t maxBytes = 1u << 30);
// One request on a new connection to 127.0.0.1:port: the whole answer.
std::string Fetch(int port, const std::string& request, bool* reset = nullptr);
// Fetch from the loopback address `from`, waiting at most timeoutMs for each piece of the answer.
std::string FetchFrom(const char* from, int port, const std::string& request, unsigned timeoutMs = 10000);
inline std::string Get(const std::string& target, const std::string& headers = "", const std::string& method = "GET") {
  return method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers + "\r\n";
}
inline std::string BodyOf(const std::string& answer) {  // "" without a whole head
  const size_t head = answer.find("\r\n\r\n");
  return head == std::string::npos ? "" : answer.substr(head + 4);
}

// Writes bytes to a new file at any path, also non-ASCII under the C locale; the path.
std::wstring WriteFileAt(const std::wstring& path, const std::string& bytes);
std::string ReadWholeFile(const std::wstring& path);
bool PathExists(const std::wstring& path);

// A fresh folder under the system's temporary folder, removed with its files.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(TempDir&&) = delete;  // no copies, no moves
  const std::wstring& path() const { return path_; }
  std::wstring File(const std::wstring& name) const;
  std::wstring Write(const std::wstring& name, const std::string& bytes) const;  // its full path
 private:
  std::wstring path_;
};
