// What needs real sockets; the answers' bytes are request_test.cpp's.
#include <gtest/gtest.h>

#include <filesystem>
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/resource.h>
#endif

#include "http/listener.h"
#include "http/request.h"
#include "http_test_util.h"
#include "test_util.h"

namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;
bool WaitForConns(int n) { return WaitUntil([n] { return ActiveConnectionCount() == n; }, 10000, 5); }
bool HealthOk(int port) { return Fetch(port, Get("/__vhhealth")).ends_with("\r\n\r\nvornhale-ok"); }
constexpr char k503[] =
    "HTTP/1.1 503 Service Unavailable\r\nRetry-After: 5\r\nX-Content-Type-Options: "
    "nosniff\r\nCache-Control: no-store\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
// Ten tries, 300 ms apart, for an item's page from the device `from`: how many got all of it within 3 s.
int PagesWithin3s(const char* from, const std::string& target) {
  int answered = 0;
  for (int i = 0; i < 10; ++i, std::this_thread::sleep_for(300ms)) {
    const auto t0 = std::chrono::steady_clock::now();
    const std::string page = FetchFrom(from, ServerPort(), Get(target), 3000);
    answered += page.starts_with("HTTP/1.1 200 OK\r\n") && page.ends_with("</html>") &&
                std::chrono::steady_clock::now() - t0 < 3s;
  }
  return answered;
}
bool RemoveAt(size_t i) {  // keeps no reference to the removed item
  std::shared_ptr<HostedItem> removed;
  int internetLeft = 0;
  return RemoveHostedAt(i, removed, internetLeft);
}

class Server : public ::testing::Test {
 protected:
  void TearDown() override {
    StopServer(), ClearHosted();
    EXPECT_TRUE(WaitForConns(0));
    CountDownloadDone(0), DestroyMessageWindow(hwnd_);
  }
  TempDir dir_;
  HWND hwnd_ = CreateMessageWindow();
};

// Per request: the bytes after the head, and the count's change, as many messages.
TEST_F(Server, DownloadsAreCountedWhenComplete) {
  const std::string body = Pattern(3u << 20);
  auto abc = HostItem("abc", dir_.Write(L"c.bin", body), body.size());
  auto emp = HostItem("emp", dir_.Write(L"e.bin", ""), 0);
  auto big = HostItem("big", dir_.Write(L"big.bin", std::string(32u << 20, 'z')), 32u << 20);
  const std::tuple<std::string, std::string, int> rows[] = {
      {Get("/abc?dl=1"), body, 1}, {Get("/abc?dl=1", "Range: bytes=4095-266239\r\n"), body.substr(4095, 262145), 1},
      {Get("/abc?dl=1", "Range: bytes=3145726-\r\n"), body.substr(3145726), 1},
      {Get("/abc?dl=1", "Range: bytes=3145728-\r\n"), "", 0}, {"HEAD /abc HTTP/1.1\r\n\r\n", "", 0},
      {Get("/emp?dl=1"), "", 0}};
  for (const auto& [request, want, counted] : rows) {
    const int before = abc->downloads.load();
    EXPECT_TRUE(BodyOf(Ask(request, hwnd_)) == want) << request;
    EXPECT_EQ(abc->downloads.load() - before + emp->downloads.load(), counted) << request;
    EXPECT_EQ(CountDownloadDone(counted ? 2000 : 300), counted) << request;
  }
  Exchange(Get("/big?dl=1"), hwnd_, 1u << 20).Finish(0);  // a reader leaving half way: uncounted, one message
  EXPECT_EQ(std::pair(big->downloads.load(), CountDownloadDone()), std::pair(0, 1));
}

// The file's last-write time two seconds later. Windows: through a handle that only writes attributes, which the
// item's lock lets in (std::filesystem would ask for write access).
void SetTimeLater(const std::wstring& path) {
#ifdef _WIN32
  HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  FILETIME t{};
  ASSERT_TRUE(h != INVALID_HANDLE_VALUE && GetFileTime(h, nullptr, nullptr, &t));
  const uint64_t later = ((uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime) + 20000000;  // 100-ns units
  t.dwLowDateTime = static_cast<DWORD>(later), t.dwHighDateTime = static_cast<DWORD>(later >> 32);
  EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &t));
  CloseHandle(h);
#else
  fs::last_write_time(fs::path(path), fs::last_write_time(fs::path(path)) + 2s);
#endif
}

// Changed in place or only its time set: 500; swapped for a link: the held handle reads the original.
TEST_F(Server, FileChangedAfterSharing) {
  const std::string original = Pattern(300000);
  const std::wstring path = dir_.File(L"s.bin"), other = dir_.Write(L"other.bin", std::string(300000, 'o'));
  auto gone = HostItem("gone", dir_.File(L"missing.bin"), 10, false);
  EXPECT_EQ(Ask(Get("/gone?dl=1")), kFileChangedAnswer);  // cannot be opened
  for (const std::string change : {"larger", "later", "link", "touched"}) {
    fs::remove(fs::path(path));
#ifdef _WIN32  // the lock keeps writers out, not a change of times: unlocked for the writes
    if (change == "later" || change == "link") continue;
    auto item = HostItem("abc", dir_.Write(L"s.bin", original), original.size(), change == "touched");
#else
    auto item = HostItem("abc", dir_.Write(L"s.bin", original), original.size());
#endif
    if (change == "larger") dir_.Write(L"s.bin", Pattern(400000));
    if (change == "later") dir_.Write(L"s.bin", std::string(300000, 'x')), SetTimeLater(path);
    if (change == "link") fs::remove(fs::path(path)), fs::create_symlink(other, path);
    if (change == "touched") SetTimeLater(path);
    const std::string answer = Ask(Get("/abc?dl=1"));
    EXPECT_TRUE(change == "link" ? BodyOf(answer) == original : answer == kFileChangedAnswer) << change;
    EXPECT_EQ(item->downloads.load(), change == "link" ? 1 : 0);
    ClearHosted();
  }
}

// A transfer outlives its item's removal or a stop; the item (lock) goes at its end, an archive at the removal
// (POSIX: its name at once; Windows: when the last handle closes).
TEST_F(Server, TransferOutlivesRemovalAndStop) {
  const std::string body = Pattern(16u << 20);
  for (const std::string how : {"remove one", "remove all", "stop"}) {
    const std::wstring zip = dir_.Write(L"folder_1.zip", body);
    ASSERT_EQ(StartServerIfNeeded(nullptr, AnyHostedInMode(ShareMode::kLan)), ServerStart::kRunning);
    const int port = ServerPort();
    HostItem("keep", dir_.Write(L"keep.txt", "k"), 1);
    std::weak_ptr<HostedItem> weak = HostItem("abc", zip, body.size(), true, ShareMode::kLan, zip);
    const SOCKET s = ConnectLoopback(port);
    SendText(s, Get("/abc?dl=1"));
    std::string answer = ReadAll(s, 5000, nullptr, 65536);
    if (how == "stop") StopServer();
    if (how == "remove all") ClearHosted();
    EXPECT_TRUE(how != "remove one" || RemoveAt(1));
    EXPECT_TRUE(how == "stop" ? ConnectLoopback(port) == INVALID_SOCKET  // new connections refused
                              : Fetch(port, Get("/abc")).starts_with("HTTP/1.1 404 Not Found\r\n")) << how;
    EXPECT_FALSE(weak.expired()) << how;
#ifndef _WIN32
    EXPECT_EQ(PathExists(zip), how == "stop") << how;
#endif
    bool reset = true;
    answer += ReadAll(s, 10000, &reset);
    EXPECT_TRUE(!reset && answer.ends_with("\r\n\r\n" + body)) << how;
    closesocket(s), ClearHosted();
    EXPECT_TRUE(WaitForConns(0) && weak.expired() && !PathExists(zip)) << how;
    StopServer();
  }
}

// Unread bytes must not reset the connection: a close without draining loses the answer's tail.
TEST_F(Server, AnswersEndWithoutAReset) {
  const std::string body = Pattern(8u << 20), extra(50000, 'b');
  HostItem("abc", dir_.Write(L"u.bin", body), body.size());
  for (const std::string& request : {"POST /abc HTTP/1.1\r\nContent-Length: 50000\r\n\r\n" + extra,
                                     Get("/abc?dl=1") + extra, "GET /abc HTTP/1.1\r\nX-Filler: " + extra}) {
    const bool file = request.find("dl=1") != std::string::npos;
    Exchange ex(request, nullptr, file ? body.size() - (1u << 20) : 0);  // the last MiB waits
    std::this_thread::sleep_for(200ms);  // in the buffers as the server closes
    ex.Finish();
    const std::string status = request[0] == 'P' ? "405" : file ? "200" : "413";
    EXPECT_EQ(ex.answer.substr(0, 12) + (ex.reset ? " reset" : ""), "HTTP/1.1 " + status);
    EXPECT_TRUE(!file || BodyOf(ex.answer) == body) << ex.answer.size();
  }
}

TEST_F(Server, LanItemsMoveTheListenerOnTheSamePort) {
  ASSERT_EQ(StartServerIfNeeded(nullptr, AnyHostedInMode(ShareMode::kLan)), ServerStart::kRunning);
  HostItem("first", {}, 0, true, ShareMode::kInternet);  // an Internet item: the listener on loopback
  const int port = ServerPort();
  for (const bool lan : {true, false}) {  // a LAN item hosted, then removed
    EXPECT_TRUE(lan ? (HostItem("lan", {}, 0), true) : RemoveAt(1));
    EXPECT_TRUE(SetListenAllInterfaces(AnyHostedInMode(ShareMode::kLan)));
    sockaddr_in a{};
    socklen_t len = sizeof a;
    getsockname(ListeningSocket(), reinterpret_cast<sockaddr*>(&a), &len);
    EXPECT_TRUE(ntohl(a.sin_addr.s_addr) == (lan ? INADDR_ANY : INADDR_LOOPBACK) && ntohs(a.sin_port) == port);
    EXPECT_TRUE(ServerPort() == port && HealthOk(port));
  }
  // A child (the tunnel client) inheriting the listener would keep the port taken.
#ifdef _WIN32
  DWORD flags = 0;
  EXPECT_TRUE(GetHandleInformation(reinterpret_cast<HANDLE>(ListeningSocket()), &flags));
  EXPECT_FALSE(flags & HANDLE_FLAG_INHERIT);
#else
  EXPECT_TRUE(fcntl(ListeningSocket(), F_GETFD) & FD_CLOEXEC);
#endif
}

// The listener reads the head in pieces as they come and hands what it read to the answering thread.
TEST_F(Server, HeadsArriveInPieces) {
  ASSERT_EQ(StartServerIfNeeded(nullptr, AnyHostedInMode(ShareMode::kLan)), ServerStart::kRunning);
  const std::pair<std::vector<std::string>, std::string> rows[] = {
      {{"GET /__vhhealth HTTP/1.1\r\n\r\n"}, "HTTP/1.1 200 OK\r\n"},
      {{"GET /__vh", "health HTTP/1.1\r\nHost: x\r", "\n\r\n"}, "HTTP/1.1 200 OK\r\n"},
      {{"GET /__vhhealth HTTP/1.1\r\nX: " + std::string(9000, 'x'), std::string(9000, 'y')}, "HTTP/1.1 413 "}};
  for (const auto& [pieces, status] : rows) {
    const SOCKET s = ConnectLoopback(ServerPort());
    for (const std::string& piece : pieces) SendText(s, piece), std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(ReadAll(s).starts_with(status)) << pieces.size();
    closesocket(s);
  }
}

// Silent clients hold no thread; 64 stalled downloads from the tunnel client's address (not limited
// per device) hold them all; the next request gets the 503 and an orderly end (no reset).
TEST_F(Server, SixtyFifthConnectionIsRefusedCleanly) {
  ASSERT_EQ(StartServerIfNeeded(nullptr, AnyHostedInMode(ShareMode::kLan)), ServerStart::kRunning);
  HostItem("big", dir_.Write(L"big.bin", std::string(16u << 20, 'b')), 16u << 20, true, ShareMode::kInternet);
  std::vector<SOCKET> held;
  for (int i = 0; i < 64; ++i) held.push_back(ConnectLoopback(ServerPort()));
  EXPECT_TRUE(WaitUntil([] { return WaitingConnectionCount() == 64; }) && ActiveConnectionCount() == 0);
  EXPECT_TRUE(HealthOk(ServerPort()));
  for (SOCKET s : held) SendText(s, Get("/big?dl=1"));
  ASSERT_TRUE(WaitForConns(64));
  bool reset = true;
  const std::string answer = Fetch(ServerPort(), Get("/__vhhealth"), &reset);
  EXPECT_EQ(answer + (reset ? "reset" : ""), k503);
  closesocket(held.back()), held.pop_back();  // one slot frees up
  EXPECT_TRUE(WaitForConns(63) && HealthOk(ServerPort()));
  for (SOCKET s : held) closesocket(s);
}

// 64 downloads from one device, read at 500 bytes a second: 16 go on, the rest get the 503, and
// another device is answered at once.
TEST_F(Server, OneDeviceHoldsAtMostItsShareOfThreads) {
  ASSERT_EQ(StartServerIfNeeded(nullptr, AnyHostedInMode(ShareMode::kLan)), ServerStart::kRunning);
  HostItem("big", dir_.Write(L"big.bin", std::string(16u << 20, 'b')), 16u << 20, true, ShareMode::kInternet);
  HostItem("page", dir_.Write(L"p.txt", "p"), 1, true, ShareMode::kInternet);
  std::vector<SOCKET> conns, admitted;
  for (int i = 0; i < 64; ++i) conns.push_back(ConnectFrom("127.0.0.2", ServerPort())), SendText(conns.back(), Get("/big?dl=1"));
  int refused = 0;
  for (SOCKET s : conns) {
    bool reset = true;
    const std::string first = ReadAll(s, 5000, &reset, sizeof k503 - 1);
    if (first.starts_with("HTTP/1.1 200 OK\r\n")) admitted.push_back(s);
    else refused += first == k503 && ReadAll(s, 5000, &reset).empty() && !reset;
  }
  EXPECT_EQ(std::pair(admitted.size(), refused), std::pair(size_t{kMaxPerDevice}, 64 - kMaxPerDevice));
  std::atomic<bool> done{false};
  std::atomic<int> still{0};
  std::thread reader([&] {  // 50 bytes every 100 ms each
    char buf[50];
    for (int round = 0; !done.load() && round < 600; ++round, std::this_thread::sleep_for(100ms)) {
      int open = 0;
      for (SOCKET s : admitted) open += recv(s, buf, sizeof buf, 0) == sizeof buf;
      still = open;
    }
  });
  EXPECT_GE(PagesWithin3s("127.0.0.3", "/page"), 9);
  done = true, reader.join();
  EXPECT_EQ(still.load(), kMaxPerDevice);
  for (SOCKET s : conns) closesocket(s);
}

// 128 silent connections from four devices, re-opened the moment one is dropped, keep nobody out.
TEST_F(Server, IdleConnectionsKeepNobodyOut) {
  ASSERT_EQ(StartServerIfNeeded(nullptr, AnyHostedInMode(ShareMode::kLan)), ServerStart::kRunning);
  HostItem("page", dir_.Write(L"p.txt", "p"), 1, true, ShareMode::kInternet);
  std::atomic<bool> done{false};
  std::atomic<int> reopened{0};
  std::thread idle([&] {
    const char* devices[] = {"127.0.0.10", "127.0.0.11", "127.0.0.12", "127.0.0.13"};
    std::vector<PollSlot> slots(128);
    for (size_t i = 0; i < slots.size(); ++i) slots[i].s = ConnectFrom(devices[i % 4], ServerPort());
    for (int round = 0; !done.load() && round < 3000; ++round) {
      PollReadable(slots.data(), slots.size(), 10);
      char b;
      for (size_t i = 0; i < slots.size(); ++i)
        if (slots[i].ready && recv(slots[i].s, &b, 1, 0) <= 0)
          closesocket(slots[i].s), slots[i].s = ConnectFrom(devices[i % 4], ServerPort()), ++reopened;
    }
    for (const PollSlot& p : slots) closesocket(p.s);
  });
  EXPECT_TRUE(WaitUntil([] { return WaitingConnectionCount() >= 128; }));
  EXPECT_GE(PagesWithin3s("127.0.0.20", "/page"), 9);
  EXPECT_EQ(ActiveConnectionCount(), 0);
  done = true, idle.join();
}

#ifndef _WIN32
// No descriptor left: no port can be probed, and the server stays stopped with the reason.
TEST_F(Server, StartWithoutDescriptorsFindsNoFreePort) {
  rlimit was{};
  getrlimit(RLIMIT_NOFILE, &was);
  rlimit none = was;
  none.rlim_cur = 3;  // standard input, output and error only
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
  const ServerStart got = StartServerIfNeeded(nullptr, AnyHostedInMode(ShareMode::kLan));
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &was), 0);
  EXPECT_EQ(got, ServerStart::kNoFreePort);
  EXPECT_FALSE(ServerRunning() || ServerPort() != 0);
}

// With few descriptors the room is smaller (64 here): a newcomer closes the one that waited longest.
TEST_F(Server, FullWaitingRoomClosesTheLongestWaiting) {
  rlimit was{};
  getrlimit(RLIMIT_NOFILE, &was);
  rlimit low = was;
  low.rlim_cur = 300;  // 300 - 256 kept for the rest: the floor of 64
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  const bool started = StartServerIfNeeded(nullptr, AnyHostedInMode(ShareMode::kLan)) == ServerStart::kRunning;
  std::vector<SOCKET> conns;
  for (int i = 0; i < 100 && started; ++i) conns.push_back(ConnectFrom("127.0.0.30", ServerPort()));
  EXPECT_TRUE(WaitUntil([] { return WaitingConnectionCount() == 64; }));
  int closedFirst = 0, openLast = 0;  // closed: the end without a byte; open: the read times out
  for (int i = 0; i < 100 && started; ++i) {
    bool timedOut = false;
    const bool asWanted = ReadAll(conns[i], i < 36 ? 2000 : 50, &timedOut).empty() && timedOut == (i >= 36);
    (i < 36 ? closedFirst : openLast) += asWanted;
  }
  EXPECT_EQ(std::pair(closedFirst, openLast), std::pair(36, 64));
  EXPECT_TRUE(started && HealthOk(ServerPort()));
  for (SOCKET s : conns) closesocket(s);
  setrlimit(RLIMIT_NOFILE, &was);
}
#endif

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
  EXPECT_FALSE(CanWrite(path) || DeleteFileW(path.c_str()));
  Exchange ex(Get("/abc?dl=1"), nullptr, 65536);
  ClearHosted();
  EXPECT_FALSE(weak.expired() || CanWrite(path));
  EXPECT_TRUE(BodyOf(ex.Finish().answer) == body);
  EXPECT_TRUE(weak.expired() && CanWrite(path));
}
#endif
}  // namespace
