// Loopback clients and temporary files for tests.
#pragma once

#include <cstdint>
#include <string>

#include "platform/net_os.h"

// A connected socket pair over 127.0.0.1: `server` is what accept returned,
// `client` the peer. Both invalid on failure.
struct LoopbackPair {
  SOCKET server = INVALID_SOCKET;
  SOCKET client = INVALID_SOCKET;
};
LoopbackPair MakeLoopbackPair();

// Connects to 127.0.0.1:port; INVALID_SOCKET on failure.
SOCKET ConnectLoopback(int port);
bool SendText(SOCKET s, const std::string& bytes);
// Reads until the peer closes, an error, the time-out (ms, per receive) or
// maxBytes. `reset` tells whether the stream ended with an error (a reset)
// instead of an orderly close.
std::string ReadAll(SOCKET s, unsigned timeoutMs = 5000, bool* reset = nullptr,
                    size_t maxBytes = 1u << 30);
// One request on a new connection to 127.0.0.1:port: the whole answer
// ("(no connection)" when none could be made).
std::string Fetch(int port, const std::string& request, bool* reset = nullptr);

// A fresh folder under the system's temporary folder, removed with its files
// by the destructor.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::wstring& path() const { return path_; }
  std::wstring File(const std::wstring& name) const;
  // Writes bytes to name inside the folder; returns its full path.
  std::wstring Write(const std::wstring& name, const std::string& bytes) const;

 private:
  std::wstring path_;
};

std::string ReadWholeFile(const std::wstring& path);
bool PathExists(const std::wstring& path);
