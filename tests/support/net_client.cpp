#include "net_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>

#include "platform/net.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace {
struct NetEnvironment : ::testing::Environment {  // the network stack, for every test binary
  void SetUp() override { NetStartup(); }
  void TearDown() override { NetCleanup(); }
};
const auto* const g_netEnv = ::testing::AddGlobalTestEnvironment(new NetEnvironment);

sockaddr_in Loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET, a.sin_addr.s_addr = htonl(INADDR_LOOPBACK), a.sin_port = htons(static_cast<uint16_t>(port));
  return a;
}
}  // namespace

LoopbackPair MakeLoopbackPair() {
  LoopbackPair p;
  const SOCKET ls = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in a = Loopback(0);
  socklen_t len = sizeof a;
  if (bind(ls, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && listen(ls, 1) == 0 &&
      getsockname(ls, reinterpret_cast<sockaddr*>(&a), &len) == 0 &&
      (p.client = ConnectLoopback(ntohs(a.sin_port))) != INVALID_SOCKET)
    p.server = accept(ls, nullptr, nullptr);
  closesocket(ls);
  return p;
}
SOCKET ConnectLoopback(int port) { return ConnectFrom(nullptr, port); }
SOCKET ConnectFrom(const char* from, int port) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in source = Loopback(0);
  const sockaddr_in a = Loopback(port);
  const bool bound = !from || (inet_pton(AF_INET, from, &source.sin_addr) == 1 &&
                               bind(s, reinterpret_cast<const sockaddr*>(&source), sizeof source) == 0);
  if (bound && connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) return s;
  closesocket(s);
  return INVALID_SOCKET;
}
bool SendText(SOCKET s, const std::string& bytes) {
  int sent = 0;
  for (size_t off = 0; off < bytes.size(); off += static_cast<size_t>(sent))
    if ((sent = send(s, bytes.data() + off, static_cast<int>(bytes.size() - off), 0)) <= 0) return false;
  return true;
}
std::string ReadAll(SOCKET s, unsigned timeoutMs, bool* reset, size_t maxBytes) {
  SetRecvTimeoutMs(s, timeoutMs);
  std::string out;
  char buf[65536];
  int n = 0;
  while (out.size() < maxBytes && (n = recv(s, buf, sizeof buf, 0)) > 0) out.append(buf, static_cast<size_t>(n));
  if (reset) *reset = n < 0;
  return out;
}
std::string Fetch(int port, const std::string& request, bool* reset) {
  const SOCKET s = ConnectLoopback(port);
  SendText(s, request);
  const std::string answer = ReadAll(s, 10000, reset);
  closesocket(s);
  return answer;
}
std::string FetchFrom(const char* from, int port, const std::string& request, unsigned timeoutMs) {
  const SOCKET s = ConnectFrom(from, port);
  if (s == INVALID_SOCKET) return "";
  SendText(s, request);
  const std::string answer = ReadAll(s, timeoutMs);
  closesocket(s);
  return answer;
}

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  std::random_device rd;
  std::error_code ec;
  for (int i = 0; i < 100 && path_.empty(); ++i) {
    const auto p = fs::temp_directory_path() / ("vh-test-" + std::to_string(rd()) + "-" + std::to_string(counter++));
    if (fs::create_directory(p, ec)) path_ = p.wstring();
  }
}
TempDir::~TempDir() { if (std::error_code ec; !path_.empty()) fs::remove_all(fs::path(path_), ec); }
std::wstring TempDir::File(const std::wstring& name) const { return (fs::path(path_) / fs::path(name)).wstring(); }
std::wstring TempDir::Write(const std::wstring& name, const std::string& s) const { return WriteFileAt(File(name), s); }

std::wstring WriteFileAt(const std::wstring& path, const std::string& bytes) {
#ifdef _WIN32
  std::ofstream(fs::path(path), std::ios::binary | std::ios::trunc) << bytes;
#else  // fs::path would convert by the C locale, which refuses non-ASCII names
  std::ofstream(WstrToUtf8(path), std::ios::binary | std::ios::trunc) << bytes;
#endif
  return path;
}
std::string ReadWholeFile(const std::wstring& path) {
  std::ifstream f(fs::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}
bool PathExists(const std::wstring& path) {
  std::error_code ec;
  return fs::exists(fs::path(path), ec);
}
