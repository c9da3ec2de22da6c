// What needs real sockets; the answers' bytes are request_test.cpp's.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#endif

#include "http/listener.h"
#include "http/request.h"
#include "http_test_util.h"
#include "test_util.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

bool WaitForConns(int n) { return WaitUntil([n] { return g_activeConns.load() == n; }, 10000, 5); }
bool HealthOk(int port) { return Fetch(port, Get("/__vhhealth")).ends_with("\r\n\r\nvornhale-ok"); }
#ifdef _WIN32
constexpr bool kHeldWhileChanged = false;  // a held file cannot change here
#else
constexpr bool kHeldWhileChanged = true;
#endif

class Server : public ::testing::Test {
 protected:
  void TearDown() override {
    StopServer();
    ClearHosted();
    EXPECT_TRUE(WaitForConns(0));
    CountDownloadDone(0);
    DestroyMessageWindow(hwnd_);
  }
  void ShareFirst() {  // an Internet item: the listener on loopback
    ASSERT_TRUE(StartServerIfNeeded(nullptr));
    HostItem("first", {}, 0, true, 0);
    EXPECT_TRUE(RebindIfModeChanged());
    ASSERT_TRUE(g_serverRunning.load());
  }
  TempDir dir_;
  HWND hwnd_ = CreateMessageWindow();
};

// Per request: the bytes after the head, the count's change and the messages.
TEST_F(Server, DownloadsAreCountedWhenComplete) {
  const std::string body = Pattern(3u << 20);
  auto abc = HostItem("abc", dir_.Write(L"c.bin", body), body.size());
  auto emp = HostItem("emp", dir_.Write(L"e.bin", ""), 0);
  auto gone = HostItem("gone", dir_.File(L"missing.bin"), 10, false);
  const struct {
    std::string request, body;
    int downloads;
  } rows[] = {
      {Get("/abc?dl=1"), body, 1}, {Get("/abc?dl=1", "Range: bytes=4095-266239\r\n"), body.substr(4095, 262145), 1},
      {Get("/abc?dl=1", "Range: bytes=3145726-\r\n"), body.substr(3145726), 1},
      {Get("/abc?dl=1", "Range: bytes=3145728-\r\n"), "", 0}, {"HEAD /abc HTTP/1.1\r\n\r\n", "", 0},
      {Get("/emp?dl=1"), "", 0},
  };
  for (const auto& r : rows) {
    const int before = abc->downloads.load();
    EXPECT_TRUE(Ask(r.request, hwnd_).Body() == r.body) << r.request;
    EXPECT_EQ(abc->downloads.load() - before, r.downloads) << r.request;
    EXPECT_EQ(CountDownloadDone(r.downloads ? 2000 : 300), r.downloads) << r.request;
  }
  EXPECT_EQ(Ask(Get("/gone?dl=1"), hwnd_).answer, kFileChangedAnswer);  // cannot be opened
  EXPECT_EQ(CountDownloadDone(300) + gone->downloads.load() + emp->downloads.load(), 0);

  // A reader leaving half way: uncounted, with its message.
  auto big = HostItem("big", dir_.Write(L"big.bin", std::string(32u << 20, 'z')), 32u << 20);
  Exchange(Get("/big?dl=1"), hwnd_, 1u << 20).Finish(0);
  EXPECT_EQ(big->downloads.load(), 0);
  EXPECT_EQ(CountDownloadDone(), 1);
}

// Changed in place: 500; swapped for a link: the held descriptor reads the original.
TEST_F(Server, FileChangedAfterSharing) {
  const std::string original = Pattern(300000);
  const std::wstring other = dir_.Write(L"other.bin", std::string(300000, 'o'));
  const std::pair<const char*, std::function<void(const std::wstring&)>> rows[] = {
      {"larger", [&](const std::wstring&) { dir_.Write(L"s.bin", Pattern(400000)); }},
#ifndef _WIN32
      {"same size, later time", [&](const std::wstring& p) {
         const auto t = fs::last_write_time(fs::path(p));
         dir_.Write(L"s.bin", std::string(300000, 'x')), fs::last_write_time(fs::path(p), t + 2s); }},
      {"link", [&](const std::wstring& p) { fs::remove(p), fs::create_symlink(other, p); }},
#endif
  };
  for (const auto& [label, change] : rows) {
    SCOPED_TRACE(label);
    const bool served = label == std::string("link");
    fs::remove(fs::path(dir_.File(L"s.bin")));
    const std::wstring path = dir_.Write(L"s.bin", original);
    auto item = HostItem("abc", path, original.size(), kHeldWhileChanged);
    change(path);
    const Exchange ex = Ask(Get("/abc?dl=1"), hwnd_);
    EXPECT_TRUE(served ? ex.Body() == original : ex.answer == kFileChangedAnswer);
    EXPECT_EQ(item->downloads.load(), served ? 1 : 0);
    ClearHosted();
  }
}

// A transfer outlives its item's removal or a stop; the item (lock, archive) goes at its end.
TEST_F(Server, TransferOutlivesRemovalAndStop) {
  const std::string body = Pattern(16u << 20);
  for (const std::string how : {"remove one", "remove all", "stop"}) {
    SCOPED_TRACE(how);
    const std::wstring zip = dir_.Write(L"folder_1.zip", body);
    ASSERT_TRUE(StartServerIfNeeded(nullptr));
    const int port = g_port;
    HostItem("keep", dir_.Write(L"keep.txt", "k"), 1);
    std::weak_ptr<HostedItem> weak = HostItem("abc", zip, body.size(), true, 1, zip);
    const SOCKET s = ConnectLoopback(port);
    SendText(s, Get("/abc?dl=1"));
    std::string answer = ReadAll(s, 5000, nullptr, 65536);
    std::shared_ptr<HostedItem> removed;
    int internetLeft = -1;
    if (how == "stop") {
      StopServer();
      EXPECT_EQ(ConnectLoopback(port), INVALID_SOCKET);  // new connections refused
    } else {
      if (how == "remove all") ClearHosted();
      else ASSERT_TRUE(RemoveHostedAt(1, removed, internetLeft));
      removed.reset();
      EXPECT_TRUE(Fetch(port, Get("/abc")).starts_with("HTTP/1.1 404 Not Found\r\n"));
      EXPECT_TRUE(!weak.expired() && PathExists(zip));
    }
    bool reset = true;
    answer += ReadAll(s, 10000, &reset);
    closesocket(s);
    EXPECT_TRUE(!reset && answer.ends_with("\r\n\r\n" + body));
    ClearHosted();
    EXPECT_TRUE(WaitForConns(0));
    EXPECT_TRUE(weak.expired() && !PathExists(zip));
    StopServer();
  }
}

// Unread bytes must not reset the connection: a close without draining loses the answer's tail.
TEST_F(Server, AnswersEndWithoutAReset) {
  const std::string body = Pattern(8u << 20), extra(50000, 'b');
  HostItem("abc", dir_.Write(L"u.bin", body), body.size());
  const std::pair<std::string, std::string> rows[] = {
      {"POST /abc HTTP/1.1\r\nContent-Length: 50000\r\n\r\n" + extra, "HTTP/1.1 405 Method Not Allowed"},
      {Get("/abc?dl=1") + extra, "HTTP/1.1 200 OK"},
      {"GET /abc HTTP/1.1\r\nX-Filler: " + std::string(20000, 'a'), "HTTP/1.1 413 Payload Too Large"},
  };
  for (const auto& [request, firstLine] : rows) {
    SCOPED_TRACE(firstLine);
    const bool file = request.find("dl=1") != std::string::npos;
    Exchange ex(request, nullptr, file ? body.size() - (1u << 20) : 0);  // the last MiB waits
    std::this_thread::sleep_for(200ms);  // in the buffers as the server closes
    ex.Finish();
    EXPECT_EQ(ex.answer.substr(0, ex.answer.find("\r\n")), firstLine);
    EXPECT_TRUE(ex.answer.find("\r\n\r\n") != std::string::npos && !ex.reset);
    EXPECT_TRUE(!file || ex.Body() == body) << ex.Body().size();
  }
}

uint32_t BoundAddress() {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  getsockname(g_listenSock.load(), reinterpret_cast<sockaddr*>(&a), &len);
  EXPECT_EQ(ntohs(a.sin_port), g_port);
  EXPECT_EQ(g_listenAllIfaces.load(), a.sin_addr.s_addr == htonl(INADDR_ANY));
  return ntohl(a.sin_addr.s_addr);
}

TEST_F(Server, LanItemsMoveTheListenerOnTheSamePort) {
  ShareFirst();
  const int port = g_port;
  EXPECT_TRUE(port >= kPortMin && port <= kPortMax && !g_cachedLanIp.empty());
  // A child (the tunnel client) inheriting the listener would keep the port taken.
#ifdef _WIN32
  DWORD flags = 0;
  EXPECT_TRUE(GetHandleInformation(reinterpret_cast<HANDLE>(g_listenSock.load()), &flags));
  EXPECT_FALSE(flags & HANDLE_FLAG_INHERIT);
#else
  EXPECT_TRUE(fcntl(g_listenSock.load(), F_GETFD) & FD_CLOEXEC);
#endif
  const std::pair<const char*, uint32_t> steps[] = {  // hosted (+) or removed (-)
      {"+lan-1", INADDR_ANY}, {"+lan-2", INADDR_ANY}, {"-lan-1", INADDR_ANY}, {"-lan-2", INADDR_LOOPBACK}};
  for (const auto& [slug, want] : steps) {
    SCOPED_TRACE(slug);
    std::shared_ptr<HostedItem> removed;
    int left = 0;
    if (slug[0] == '+') HostItem(slug + 1, {}, 0);
    EXPECT_TRUE(slug[0] != '-' || RemoveHostedAt(1, removed, left));  // the oldest after "first"
    EXPECT_TRUE(RebindIfModeChanged());
    EXPECT_TRUE(g_serverRunning.load() && g_port == port && BoundAddress() == want && HealthOk(port));
  }
  StopServer();
  EXPECT_TRUE(!g_serverRunning.load() && g_listenSock.load() == INVALID_SOCKET && g_port == 0);
  EXPECT_EQ(ConnectLoopback(port), INVALID_SOCKET);
  HostItem("lan-4", {}, 0);
  ASSERT_TRUE(StartServerIfNeeded(nullptr));  // a LAN item hosted: all interfaces at once
  EXPECT_EQ(BoundAddress(), INADDR_ANY);
}

// 64 silent clients fill every slot; the next gets the 503 and an orderly end (no reset).
TEST_F(Server, SixtyFifthConnectionIsRefusedCleanly) {
  ShareFirst();
  std::vector<SOCKET> held;
  for (int i = 0; i < 64; ++i) held.push_back(ConnectLoopback(g_port));
  ASSERT_TRUE(WaitForConns(64));
  bool reset = true;
  EXPECT_EQ(Fetch(g_port, Get("/__vhhealth"), &reset),
            "HTTP/1.1 503 Service Unavailable\r\nRetry-After: 5\r\nX-Content-Type-Options: "
            "nosniff\r\nCache-Control: no-store\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
  EXPECT_FALSE(reset);
  closesocket(held.back());  // one slot frees up
  held.pop_back();
  ASSERT_TRUE(WaitForConns(63));
  EXPECT_TRUE(HealthOk(g_port));
  for (SOCKET s : held) closesocket(s);
}

#ifdef _WIN32
bool CanWrite(const std::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return h != INVALID_HANDLE_VALUE && CloseHandle(h);
}

// The lock keeps writers and deleters out while the item lives (also past removal), reads in.
TEST_F(Server, LockKeepsWritersOutUntilTheLastTransferEnds) {
  const std::string body = Pattern(16u << 20);
  const std::wstring path = dir_.Write(L"locked.bin", body);
  std::weak_ptr<HostedItem> weak = HostItem("abc", path, body.size());
  EXPECT_FALSE(CanWrite(path));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(DeleteFileW(path.c_str()));
  Exchange ex(Get("/abc?dl=1"), nullptr, 65536);
  ClearHosted();
  EXPECT_FALSE(weak.expired() || CanWrite(path));
  EXPECT_TRUE(ex.Finish().Body() == body);
  EXPECT_TRUE(weak.expired() && CanWrite(path));
}
#endif

}  // namespace
