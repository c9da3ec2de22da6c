// What needs a real connection: the file's bytes, download counting, the
// held descriptor, graceful close and the sendfile seam. The answers' bytes
// are checked in memory (request_test.cpp).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <vector>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#endif

#include "http/request.h"
#include "http_test_util.h"
#include "platform/sendfile.h"

namespace {

namespace fs = std::filesystem;

class Handler : public ::testing::Test {
 protected:
  void SetUp() override { CountDownloadDone(0, 0); }
  void TearDown() override {
    ClearHosted();
    CountDownloadDone(0, 0);
    DestroyMessageWindow(hwnd_);
  }
  TempDir dir_;
  HWND hwnd_ = CreateMessageWindow();
};

// Per request kind: the bytes after the head, the counter and the message.
TEST_F(Handler, DownloadsAreCountedWhenComplete) {
  const std::string body = Pattern(1000);
  auto abc = HostItem("abc", dir_.Write(L"c.bin", body), "c.bin", 1000);
  auto emp = HostItem("emp", dir_.Write(L"e.bin", ""), "e.bin", 0);
  auto gone = HostItem("gone", dir_.File(L"missing.bin"), "missing.bin", 10, false);
  const struct {
    std::string request, body;
    int downloads, messages;
  } rows[] = {
      {Get("/abc?dl=1"), body, 1, 1},
      {Get("/abc?dl=1", "Range: bytes=500-\r\n"), body.substr(500), 1, 1},
      {Get("/abc?dl=1", "Range: bytes=3-3\r\n"), body.substr(3, 1), 1, 1},
      {Get("/abc?dl=1", "Range: bytes=5000-\r\n"), "", 0, 0},
      {"HEAD /abc HTTP/1.1\r\n\r\n", "", 0, 0},
      {"DELETE /abc HTTP/1.1\r\n\r\n", "", 0, 0},
      {Get("/emp?dl=1"), "", 0, 0},
  };
  for (const auto& r : rows) {
    const int before = abc->downloads.load();
    const Exchange ex = Ask(r.request, hwnd_);
    EXPECT_EQ(ex.Body(), r.body) << r.request;
    EXPECT_EQ(abc->downloads.load() - before, r.downloads) << r.request;
    EXPECT_EQ(CountDownloadDone(r.messages ? 2000 : 300), r.messages) << r.request;
  }
  EXPECT_EQ(emp->downloads.load(), 0);
  EXPECT_EQ(Ask(Get("/gone?dl=1"), hwnd_).answer, kFileChangedAnswer);  // cannot be opened
  EXPECT_EQ(CountDownloadDone(300) + gone->downloads.load(), 0);

  // A reader leaving half way: the transfer ends, uncounted, with its message.
  auto big = HostItem("big", dir_.Write(L"big.bin", std::string(32u << 20, 'z')), "big.bin", 32u << 20);
  Exchange half(Get("/big?dl=1"), hwnd_, 1u << 20);
  EXPECT_GE(half.answer.size(), 1u << 20);
  half.Finish(0);  // unread data: the server's sends fail
  EXPECT_EQ(big->downloads.load(), 0);
  EXPECT_EQ(CountDownloadDone(), 1);

  std::vector<std::thread> clients;  // side by side, every one counted
  std::atomic<int> complete{0};
  for (int i = 0; i < 8; ++i)
    clients.emplace_back([&] { complete += Ask(Get("/abc?dl=1")).Body() == body; });
  for (auto& t : clients) t.join();
  EXPECT_EQ(complete.load(), 8);
  EXPECT_EQ(abc->downloads.load(), 11);
}

// A file changed in place after sharing is answered 500, never other bytes
// under the old length; a path swapped for a link or a FIFO (POSIX: the held
// descriptor still reads the original) changes nothing. Windows keeps writers
// out with its lock, so its items here hold no handle and change anyway.
TEST_F(Handler, FileChangedAfterSharing) {
  const std::string original = Pattern(300000);
  const std::wstring other = dir_.Write(L"other.bin", std::string(300000, 'o'));
  const struct {
    const char* label;
    std::function<void(const std::wstring&)> change;
    bool served;
  } rows[] = {
      {"larger", [&](const std::wstring&) { dir_.Write(L"s.bin", Pattern(400000)); }, false},
      {"truncated", [&](const std::wstring&) { dir_.Write(L"s.bin", Pattern(100000)); }, false},
#ifndef _WIN32
      {"same size, later time",
       [&](const std::wstring& p) {
         const auto t = fs::last_write_time(fs::path(p));
         dir_.Write(L"s.bin", std::string(300000, 'x'));
         fs::last_write_time(fs::path(p), t + std::chrono::seconds(2));
       },
       false},
      {"link", [&](const std::wstring& p) { fs::remove(p), fs::create_symlink(other, p); }, true},
      {"FIFO", [&](const std::wstring& p) { fs::remove(p), mkfifo(fs::path(p).c_str(), 0600); }, true},
#endif
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.label);
    fs::remove(fs::path(dir_.File(L"s.bin")));
    const std::wstring path = dir_.Write(L"s.bin", original);
#ifdef _WIN32
    auto item = HostItem("abc", path, "s.bin", original.size(), false);
#else
    auto item = HostItem("abc", path, "s.bin", original.size());
#endif
    r.change(path);
    const Exchange ex = Ask(Get("/abc?dl=1"), hwnd_);
    if (r.served)
      EXPECT_TRUE(ex.Body() == original);
    else
      EXPECT_EQ(ex.answer, kFileChangedAnswer);
    EXPECT_EQ(item->downloads.load(), r.served ? 1 : 0);
    ClearHosted();
  }
}

// An item removed while its file is being sent finishes that transfer; the
// item (its lock, its temporary archive) goes only when the transfer ends.
TEST_F(Handler, RemovedItemFinishesItsTransfer) {
  for (const bool removeAll : {false, true}) {
    SCOPED_TRACE(removeAll ? "remove all" : "remove one");
    const std::string body = Pattern(16u << 20);
    const std::wstring zip = dir_.Write(L"folder_1.zip", body);
    HostItem("keep", dir_.Write(L"keep.txt", "k"), "keep.txt", 1);
    std::weak_ptr<HostedItem> weak = HostItem("abc", zip, "folder_1.zip", body.size(), true, zip);
    Exchange ex(Get("/abc?dl=1"), hwnd_, 65536);
    std::shared_ptr<HostedItem> removed;
    int internetLeft = -1;
    if (removeAll)
      ClearHosted();
    else
      ASSERT_TRUE(RemoveHostedAt(1, removed, internetLeft));
    removed.reset();
    EXPECT_FALSE(weak.expired());
    EXPECT_TRUE(PathExists(zip));
    EXPECT_EQ(Ask(Get("/abc")).answer.rfind("HTTP/1.1 404 Not Found\r\n", 0), 0u);
    ex.Finish();
    EXPECT_FALSE(ex.reset);
    EXPECT_TRUE(ex.Body() == body);
    EXPECT_TRUE(weak.expired());
    EXPECT_FALSE(PathExists(zip));
    EXPECT_EQ(CountDownloadDone(), 1);
    ClearHosted();
  }
}

// Bytes the server did not read (a body, a second request, an oversized head)
// must not reset the connection before the answer arrives; a head that never
// ends gets no answer at all.
TEST_F(Handler, AnswersEndWithoutAReset) {
  HostItem("abc", dir_.Write(L"u.txt", "0123456789"), "u.txt", 10);
  const std::string extra(50000, 'b');
  const struct {
    std::string request, firstLine;
  } rows[] = {
      {"POST /abc HTTP/1.1\r\nContent-Length: 50000\r\n\r\n" + extra, "HTTP/1.1 405 Method Not Allowed"},
      {Get("/abc?dl=1") + extra, "HTTP/1.1 200 OK"},
      {Get("/abc") + Get("/abc") + extra, "HTTP/1.1 200 OK"},
      {Get("/zzz") + extra, "HTTP/1.1 404 Not Found"},
      {"GET /abc HTTP/1.1\r\nX-Filler: " + std::string(20000, 'a'), "HTTP/1.1 413 Payload Too Large"},
  };
  for (const auto& r : rows) {
    const Exchange ex = Ask(r.request);
    EXPECT_EQ(ex.answer.substr(0, ex.answer.find("\r\n")), r.firstLine);
    EXPECT_NE(ex.answer.find("\r\n\r\n"), std::string::npos);
    EXPECT_FALSE(ex.reset);
  }
  CountDownloadDone(0, 0);
  Exchange lf("GET /abc?dl=1 HTTP/1.1\nHost: x\n\n", hwnd_);
  ShutdownSend(lf.p.client);
  EXPECT_EQ(lf.Finish().answer, "");
  EXPECT_EQ(CountDownloadDone(300), 0);
}

// Sends [offset, offset + len) of h the way the server does; the bytes sent,
// or -1 at the first failure.
int64_t SendRange(SOCKET s, FileHandle h, uint64_t offset, uint64_t len) {
  PrepareFileSendSocket(s);
  char buf[4096];
  uint64_t total = 0;
  while (total < len) {
    const int64_t n = SendFileToSocket(s, h, offset + total, len - total, buf, sizeof buf);
    if (n <= 0) return n < 0 ? -1 : static_cast<int64_t>(total);
    total += static_cast<uint64_t>(n);
  }
  return static_cast<int64_t>(total);
}

TEST(SendFileSeam, SendsExactlyTheRangeAndLeavesTheSocketBlocking) {
  TempDir dir;
  const std::string content = Pattern(3u << 20);
  ScopedFile f(OpenFileShareRead(dir.Write(L"data.bin", content)));
  ASSERT_TRUE(f.valid());
  const struct {
    uint64_t offset, len, sent;
  } rows[] = {{0, 1, 1}, {0, content.size(), content.size()}, {4095, 262145, 262145},
              {123457, 1u << 20, 1u << 20}, {content.size() - 2, 5, 2}, {content.size(), 5, 0}};
  for (const auto& r : rows) {
    LoopbackPair p = MakeLoopbackPair();
    std::string got;
    std::thread reader([&] { got = ReadAll(p.client, 10000); });
    EXPECT_EQ(SendRange(p.server, f.get(), r.offset, r.len), static_cast<int64_t>(r.sent));
#ifndef _WIN32
    EXPECT_EQ(fcntl(p.server, F_GETFL) & O_NONBLOCK, 0);
#endif
    closesocket(p.server);
    reader.join();
    closesocket(p.client);
    EXPECT_TRUE(got == content.substr(r.offset, r.sent)) << r.offset << " " << r.len;
  }
}

}  // namespace
