#include "net_client.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

namespace fs = std::filesystem;

LoopbackPair MakeLoopbackPair() {
  LoopbackPair p;
  SOCKET ls = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (ls == INVALID_SOCKET) return p;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  socklen_t len = sizeof a;
  if (bind(ls, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(ls, 1) != 0 ||
      getsockname(ls, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    closesocket(ls);
    return p;
  }
  p.client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (p.client != INVALID_SOCKET &&
      connect(p.client, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
    p.server = accept(ls, nullptr, nullptr);
  }
  closesocket(ls);
  if (p.server == INVALID_SOCKET && p.client != INVALID_SOCKET) {
    closesocket(p.client);
    p.client = INVALID_SOCKET;
  }
  return p;
}

SOCKET ConnectLoopback(int port) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return s;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    closesocket(s);
    return INVALID_SOCKET;
  }
  return s;
}

bool SendText(SOCKET s, const std::string& bytes) {
  size_t off = 0;
  while (off < bytes.size()) {
    int n = send(s, bytes.data() + off, static_cast<int>(bytes.size() - off), 0);
    if (n <= 0) return false;
    off += static_cast<size_t>(n);
  }
  return true;
}

std::string ReadAll(SOCKET s, unsigned timeoutMs, bool* reset, size_t maxBytes) {
  SetRecvTimeoutMs(s, timeoutMs);
  std::string out;
  char buf[65536];
  if (reset) *reset = false;
  while (out.size() < maxBytes) {
    int n = recv(s, buf, sizeof buf, 0);
    if (n == 0) break;
    if (n < 0) {
      if (reset) *reset = true;
      break;
    }
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  std::random_device rd;
  const fs::path base = fs::temp_directory_path();
  for (int i = 0; i < 100; ++i) {
    fs::path p = base / ("vh-test-" + std::to_string(rd()) + "-" + std::to_string(counter++));
    std::error_code ec;
    if (fs::create_directory(p, ec)) {
      path_ = p.wstring();
      return;
    }
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path_.empty()) fs::remove_all(fs::path(path_), ec);
}

std::wstring TempDir::File(const std::wstring& name) const {
  return (fs::path(path_) / fs::path(name)).wstring();
}

std::wstring TempDir::Write(const std::wstring& name, const std::string& bytes) const {
  const std::wstring p = File(name);
  std::ofstream f(fs::path(p), std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return p;
}

std::string ReadWholeFile(const std::wstring& path) {
  std::ifstream f(fs::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

bool PathExists(const std::wstring& path) {
  std::error_code ec;
  return fs::exists(fs::path(path), ec);
}
