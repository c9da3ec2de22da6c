// What needs real sockets; the answers' bytes are request_test.cpp's.
#include <gtest/gtest.h>

#include <filesystem>
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
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

#ifndef _WIN32  // Wine 8 makes no folder links (the GUI scenario "planted" points a Unix link under Wine instead)
// Shared through a folder link that is then pointed at another folder holding a file of the same name and size:
// the original bytes (or 500), never the other file's.
TEST_F(Server, FolderLinkPointedElsewhereAfterSharing) {
  const std::string original = Pattern(300000);
  const fs::path a(dir_.File(L"a")), b(dir_.File(L"b")), via(dir_.File(L"via"));
  fs::create_directories(a), fs::create_directories(b);
  WriteFileAt((a / "s.bin").wstring(), original), WriteFileAt((b / "s.bin").wstring(), std::string(300000, 'o'));
  fs::create_directory_symlink(a, via);
  auto item = HostItem("abc", (via / "s.bin").wstring(), original.size());
  ASSERT_NE(item->fileHandle, kInvalidFileHandle);
  fs::remove(via), fs::create_directory_symlink(b, via);
  for (int round = 0; round < 2; ++round) {
    const std::string answer = Ask(Get("/abc?dl=1"));
    EXPECT_TRUE(answer == kFileChangedAnswer || BodyOf(answer) == original) << answer.substr(0, 200);
  }
}
#endif

// A transfer outlives its item's removal or a stop; the item (lock) goes at its end, an archive at the removal
// (POSIX: its name at once; Windows: when the last handle closes).
TEST_F(Server, TransferOutlivesRemovalAndStop) {
  const std::string body = Pattern(16u << 20);
  for (const std::string how : {"remove one", "remove all", "stop"}) {
    const std::wstring zip = dir_.Write(L"folder_1.zip", body);
    ASSERT_TRUE(StartServerIfNeeded(nullptr));
    const int port = g_port;
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
  ASSERT_TRUE(StartServerIfNeeded(nullptr));
  HostItem("first", {}, 0, true, ShareMode::kInternet);  // an Internet item: the listener on loopback
  const int port = g_port;
  for (const bool lan : {true, false}) {  // a LAN item hosted, then removed
    EXPECT_TRUE(lan ? (HostItem("lan", {}, 0), true) : RemoveAt(1));
    EXPECT_TRUE(RebindIfModeChanged());
    sockaddr_in a{};
    socklen_t len = sizeof a;
    getsockname(g_listenSock.load(), reinterpret_cast<sockaddr*>(&a), &len);
    EXPECT_TRUE(ntohl(a.sin_addr.s_addr) == (lan ? INADDR_ANY : INADDR_LOOPBACK) && ntohs(a.sin_port) == port);
    EXPECT_TRUE(g_port == port && HealthOk(port));
  }
  // A child (the tunnel client) inheriting the listener would keep the port taken.
#ifdef _WIN32
  DWORD flags = 0;
  EXPECT_TRUE(GetHandleInformation(reinterpret_cast<HANDLE>(g_listenSock.load()), &flags));
  EXPECT_FALSE(flags & HANDLE_FLAG_INHERIT);
#else
  EXPECT_TRUE(fcntl(g_listenSock.load(), F_GETFD) & FD_CLOEXEC);
#endif
}

// 64 silent clients fill every slot; the next gets the 503 and an orderly end (no reset).
TEST_F(Server, SixtyFifthConnectionIsRefusedCleanly) {
  ASSERT_TRUE(StartServerIfNeeded(nullptr));
  std::vector<SOCKET> held;
  for (int i = 0; i < 64; ++i) held.push_back(ConnectLoopback(g_port));
  ASSERT_TRUE(WaitForConns(64));
  bool reset = true;
  const std::string answer = Fetch(g_port, Get("/__vhhealth"), &reset);
  EXPECT_EQ(answer + (reset ? "reset" : ""),
            "HTTP/1.1 503 Service Unavailable\r\nRetry-After: 5\r\nX-Content-Type-Options: "
            "nosniff\r\nCache-Control: no-store\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
  closesocket(held.back()), held.pop_back();  // one slot frees up
  EXPECT_TRUE(WaitForConns(63) && HealthOk(g_port));
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
  EXPECT_FALSE(CanWrite(path) || DeleteFileW(path.c_str()));
  Exchange ex(Get("/abc?dl=1"), nullptr, 65536);
  ClearHosted();
  EXPECT_FALSE(weak.expired() || CanWrite(path));
  EXPECT_TRUE(BodyOf(ex.Finish().answer) == body);
  EXPECT_TRUE(weak.expired() && CanWrite(path));
}
#endif
}  // namespace
