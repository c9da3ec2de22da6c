#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "http/transfer_floor.h"
#include "http_test_util.h"

namespace {

constexpr char k404[] =
    "HTTP/1.1 404 Not Found\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: "
    "372\r\nX-Content-Type-Options: nosniff\r\nCache-Control: no-store\r\nConnection: "
    "close\r\n\r\n<!doctype html><html lang=\"en\"><head><meta charset=\"utf-8\"><meta "
    "name=\"viewport\" content=\"width=device-width,initial-scale=1\"><title>Not found</title>"
    "</head><body style='font-family:sans-serif;padding:40px;color:#222'><main><h1 "
    "style='font-size:1.3em;margin:0 0 8px'>Link not found</h1><p style='margin:0'>This link is "
    "invalid or has been stopped.</p></main></body></html>";
constexpr char k405[] =
    "HTTP/1.1 405 Method Not Allowed\r\nAllow: GET, HEAD\r\nX-Content-Type-Options: "
    "nosniff\r\nCache-Control: no-store\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
constexpr char k413[] =
    "HTTP/1.1 413 Payload Too Large\r\nX-Content-Type-Options: nosniff\r\nCache-Control: "
    "no-store\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
constexpr char k500[] =
    "HTTP/1.1 500 Internal Server Error\r\nX-Content-Type-Options: nosniff\r\nCache-Control: "
    "no-store\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
constexpr char kHealth[] =
    "HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: "
    "11\r\nCache-Control: no-store\r\nConnection: close\r\n\r\nvornhale-ok";
constexpr char kTail[] =
    "Accept-Ranges: bytes\r\nCache-Control: no-store\r\nX-Content-Type-Options: "
    "nosniff\r\nConnection: close\r\n\r\n";

std::string Answer416(uint64_t size) {
  return "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */" + std::to_string(size) +
         "\r\nContent-Length: 0\r\nX-Content-Type-Options: nosniff\r\nCache-Control: "
         "no-store\r\nConnection: close\r\n\r\n";
}

const char kPageHead[] =
    "<!doctype html><html lang=\"en\"><head><meta charset=\"UTF-8\"><meta name=\"viewport\" content=\""
    "width=device-width,initial-scale=1\"><title>Download - Vorn-Hale</title><style>*{box-sizing:bord"
    "er-box;margin:0;padding:0}body{font-family:'Segoe UI',Arial,sans-serif;background:#fff7f9;color:"
    "#3a2a30;display:flex;flex-direction:column;align-items:center;justify-content:center;min-height:"
    "100vh;padding:40px 16px}.card{background:#fff;border:1px solid #f3cdd8;border-radius:18px;paddin"
    "g:36px 32px;max-width:520px;width:100%;text-align:center;box-shadow:0 10px 40px rgba(138,44,70,."
    "12)}.bloom{font-size:1.9em;line-height:1;margin-bottom:8px}h1{font-size:1.25em;margin-bottom:6px"
    ";font-weight:600;word-break:break-all;color:#3a2a30}.size{font-size:.85em;color:#6b4a52;margin-b"
    "ottom:22px}.ad-slot{margin:22px 0;min-height:90px;background:#fdeef2;border:1px dashed #f3cdd8;b"
    "order-radius:12px;display:flex;align-items:center;justify-content:center;padding:8px}.btn{displa"
    "y:inline-block;background:#b13c5e;color:#fff;border:none;padding:13px 34px;font-size:1em;border-"
    "radius:999px;cursor:pointer;text-decoration:none;font-weight:600;box-shadow:0 6px 18px rgba(177,"
    "60,94,.3)}a.btn{color:#fff}.btn:hover{background:#e85d86}.btn:focus-visible{outline:3px solid #8"
    "a2c46;outline-offset:2px}.powered{margin-top:24px;font-size:.74em;color:#8a2c46;letter-spacing:."
    "04em}</style></head><body><main class=\"card\"><div class=\"bloom\" aria-hidden=\"true\">"
    "\xF0\x9F\x8C\xB8"
    "</div><h1>";

std::string Get(const std::string& target, const std::string& headers = "",
                const std::string& method = "GET") {
  return method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers + "\r\n";
}

class Handler : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearHosted();
    DrainAppMessages();
    hwnd_ = CreateMessageWindow();
  }
  void TearDown() override {
    ClearHosted();
    DrainAppMessages();
    DestroyMessageWindow(hwnd_);
  }
  TempDir dir_;
  HWND hwnd_ = nullptr;
};

TEST_F(Handler, DownloadPageAndFileHeadersEscapeTheName) {
  const std::string name = "a<b>&\"c'.txt";
  auto item = HostItem("abc", dir_.Write(L"n.txt", "hello"), name, 5);
  const std::string esc = "a&lt;b&gt;&amp;&quot;c&#39;.txt";
  const std::string page =
      std::string(kPageHead) + esc + "</h1><div class=\"size\">5 B</div><div class=\"ad-slot\">"
      "<span style='color:#555;font-size:.85em'>Advertisement</span></div><a class=\"btn\" "
      "href=\"?dl=1\" download=\"" + esc +
      "\">Download file</a><div class=\"powered\">Shared via Vorn-Hale</div></main></body></html>";
  const std::string expected =
      "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
      std::to_string(page.size()) +
      "\r\nCache-Control: no-store, max-age=0\r\nX-Frame-Options: DENY\r\nX-Content-Type-Options: "
      "nosniff\r\nReferrer-Policy: no-referrer\r\nConnection: close\r\n\r\n" + page;
  EXPECT_EQ(Ask(Get("/abc"), hwnd_).answer, expected);

  EXPECT_EQ(Ask(Get("/abc?dl=1"), hwnd_).answer,
            "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 5\r\n"
            "Content-Disposition: attachment; filename*=UTF-8''a%3Cb%3E%26%22c%27.txt\r\n" +
                std::string(kTail) + "hello");
  EXPECT_EQ(Ask(Get("/abc?dl=1", "Range: bytes=1-2\r\n"), hwnd_).answer,
            "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 1-2/5\r\nContent-Type: "
            "text/plain\r\nContent-Length: 2\r\nContent-Disposition: attachment; "
            "filename*=UTF-8''a%3Cb%3E%26%22c%27.txt\r\n" +
                std::string(kTail) + "el");
  const std::string head =
      "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 5\r\n" + std::string(kTail);
  EXPECT_EQ(Ask(Get("/abc", "", "HEAD"), hwnd_).answer, head);
  EXPECT_EQ(Ask(Get("/abc?dl=1", "Range: bytes=1-2\r\n", "HEAD"), hwnd_).answer, head);
  EXPECT_EQ(item->downloads.load(), 2);
  EXPECT_EQ(CountDownloadDone(), 2);
}

TEST_F(Handler, RangeMatrixOnAHundredBytes) {
  const std::string body = Pattern(100);
  HostItem("abc", dir_.Write(L"h.bin", body), "h.bin", 100);
  const struct {
    std::string value;
    int64_t start;  // -1: 416 expected
    int64_t end;
  } cases[] = {
      {"10-", 10, 99},     {"0-999", 0, 99},   {"0-1,5-6", 0, 1},  {"0-0", 0, 0},
      {"99-99", 99, 99},   {" 5-7", 5, 7},     {"+5-+7", 5, 7},    {"5-x", 5, 99},
      {"50-40", -1, 0},    {"100-", -1, 0},    {"-10", -1, 0},     {"abc", -1, 0},
      {"5", -1, 0},        {"-", -1, 0},       {"99999999999999999999-", -1, 0},
  };
  for (const auto& c : cases) {
    const std::string answer = Ask(Get("/abc?dl=1", "Range: bytes=" + c.value + "\r\n")).answer;
    if (c.start < 0) {
      EXPECT_EQ(answer, Answer416(100)) << c.value;
      continue;
    }
    const std::string range = std::to_string(c.start) + "-" + std::to_string(c.end);
    const size_t len = static_cast<size_t>(c.end - c.start + 1);
    EXPECT_EQ(answer, "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + range +
                          "/100\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                          std::to_string(len) +
                          "\r\nContent-Disposition: attachment; filename*=UTF-8''h.bin\r\n" +
                          kTail + body.substr(static_cast<size_t>(c.start), len))
        << c.value;
  }
  // The search runs over the raw head, in any letter case, X-Range included.
  for (const std::string& header :
       {std::string("RANGE: BYTES=3-4\r\n"), std::string("X-Range: bytes=3-4\r\n")}) {
    const std::string answer = Ask(Get("/abc?dl=1", header)).answer;
    EXPECT_EQ(answer.substr(0, answer.find("\r\n")), "HTTP/1.1 206 Partial Content") << header;
    EXPECT_EQ(answer.substr(answer.size() - 2), body.substr(3, 2));
  }
  for (const std::string& header :
       {std::string("Range:bytes=3-4\r\n"), std::string("Range: bytes =3-4\r\n")}) {
    const std::string answer = Ask(Get("/abc?dl=1", header)).answer;
    EXPECT_EQ(answer.substr(0, answer.find("\r\n")), "HTTP/1.1 200 OK") << header;
  }
}

TEST_F(Handler, EmptyItem) {
  auto item = HostItem("abc", dir_.Write(L"e.txt", ""), "e.txt", 0);
  for (const std::string value : {"0-", "0-0", "-1", "1-2", "x"})
    EXPECT_EQ(Ask(Get("/abc?dl=1", "Range: bytes=" + value + "\r\n"), hwnd_).answer,
              Answer416(0))
        << value;
  EXPECT_EQ(Ask(Get("/abc?dl=1"), hwnd_).answer,
            "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 0\r\n"
            "Content-Disposition: attachment; filename*=UTF-8''e.txt\r\n" + std::string(kTail));
  EXPECT_EQ(item->downloads.load(), 0);
  EXPECT_EQ(CountDownloadDone(500), 0);
}

TEST_F(Handler, Routing) {
  HostItem("abc", dir_.Write(L"r.txt", "0123456789"), "r.txt", 10);
  const std::string file200 = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 10\r\n";
  const std::string head200 = file200 + kTail;
  const struct {
    std::string request;
    std::string expected;  // whole answer, or its first line for pages and files
    bool whole;
  } cases[] = {
      {Get("/__vhhealth"), kHealth, true},
      {Get("/__vhhealth?x=1", "", "POST"), kHealth, true},
      {Get("/__vhhealth", "", "HEAD"), kHealth, true},
      {Get("/%5F_vhhealth"), kHealth, true},
      {Get("/abc", "", "POST"), k405, true},
      {Get("/abc?dl=1", "", "POST"), k405, true},
      {Get("/abc", "Range: bytes=-1\r\n", "POST"), Answer416(10), true},
      {Get("/abc", "", "get"), k405, true},
      {Get("/abc", "", "Head"), k405, true},
      {Get("/abc", "", "HEAD"), head200, true},
      {Get("/abc?dl=1", "", "HEAD"), head200, true},
      {Get("/abc?dl=1", "Range: bytes=0-0\r\n", "HEAD"), head200, true},
      {Get("/abc"), "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8", false},
      {Get("/%61bc"), "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8", false},
      {Get("/abc?x=1&dl=1"), file200, false},
      {Get("/abc?dl=10"), file200, false},
      {Get("/abc?xdl=1"), file200, false},
      {Get("/abc?dl=0"), "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8", false},
      {Get("/abc?DL=1"), "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8", false},
      {"GET /abc?dl=1 HTTP/1.0\r\n\r\n", file200, false},
      {"  GET\t/abc?dl=1\r\n\r\n", file200, false},
      {Get("/ABC"), k404, true},
      {Get("/"), k404, true},
      {Get("/ab"), k404, true},
      {Get("/abc/"), k404, true},
      {Get("/abc%2F"), k404, true},
      {Get("/a+c"), k404, true},
      {Get("abc"), k404, true},
      {Get("http://127.0.0.1/abc"), k404, true},
      {"GET\r\n\r\n", k404, true},
      {"\r\n\r\n", k404, true},
      {Get("/zzz"), k404, true},
  };
  for (const auto& c : cases) {
    const Exchange ex = Ask(c.request);
    EXPECT_FALSE(ex.reset) << c.request;
    if (c.whole)
      EXPECT_EQ(ex.answer, c.expected) << c.request;
    else
      EXPECT_EQ(ex.answer.substr(0, c.expected.size()), c.expected) << c.request;
  }
}

TEST_F(Handler, FileThatCannotBeOpenedAnswers500) {
  auto item = HostItem("abc", dir_.File(L"missing.bin"), "missing.bin", 10, false);
  EXPECT_EQ(Ask(Get("/abc?dl=1"), hwnd_).answer, k500);
  EXPECT_EQ(CountDownloadDone(500), 0);
  EXPECT_EQ(item->downloads.load(), 0);
}

TEST_F(Handler, CounterAndMessagesPerRequestKind) {
  auto item = HostItem("abc", dir_.Write(L"c.bin", Pattern(1000)), "c.bin", 1000);
  const struct {
    std::string request;
    int downloads;  // counter change
    int messages;
  } cases[] = {
      {Get("/abc?dl=1"), 1, 1},
      {Get("/abc?dl=1", "Range: bytes=500-\r\n"), 1, 1},
      {Get("/abc?dl=1", "Range: bytes=0-0\r\n"), 1, 1},
      {Get("/abc"), 0, 0},
      {Get("/abc", "", "HEAD"), 0, 0},
      {Get("/abc?dl=1", "Range: bytes=5000-\r\n"), 0, 0},
      {Get("/abc", "", "DELETE"), 0, 0},
  };
  for (const auto& c : cases) {
    const int before = item->downloads.load();
    Ask(c.request, hwnd_);
    EXPECT_EQ(item->downloads.load() - before, c.downloads) << c.request;
    EXPECT_EQ(CountDownloadDone(c.messages ? 2000 : 300), c.messages) << c.request;
  }
}

TEST_F(Handler, ClientLeavingHalfWayIsNotCounted) {
  const size_t size = 32u << 20;
  auto item = HostItem("abc", dir_.Write(L"big.bin", std::string(size, 'z')), "big.bin", size);
  LoopbackPair p = MakeLoopbackPair();
  ASSERT_NE(p.client, INVALID_SOCKET);
  std::thread server(HandleClient, p.server, hwnd_);
  SendText(p.client, Get("/abc?dl=1"));
  const std::string some = ReadAll(p.client, 5000, nullptr, 1u << 20);
  EXPECT_GE(some.size(), 1u << 20);
  closesocket(p.client);  // unread data: the server's sends fail
  server.join();
  EXPECT_EQ(item->downloads.load(), 0);
  EXPECT_EQ(CountDownloadDone(), 1);
}

// What a recipient gets when the shared file changed after sharing: a change
// in place is answered 500, never other bytes under the old length; a path
// swapped for a link or a FIFO (POSIX: the held descriptor still reads the
// original file) changes nothing and blocks nothing. Windows keeps writers
// out with its lock, so its items here hold no handle and change anyway.
TEST_F(Handler, FileChangedAfterSharing) {
  namespace fs = std::filesystem;
  const std::string original = Pattern(300000);
  const std::wstring other = dir_.Write(L"other.bin", std::string(300000, 'o'));
  const struct {
    const char* label;
    std::function<void(const std::wstring&)> change;
    bool served;  // the original bytes, else the 500 answer
  } cases[] = {
      {"rewritten larger", [&](const std::wstring&) { dir_.Write(L"s.bin", Pattern(400000)); }, false},
      {"truncated", [&](const std::wstring&) { dir_.Write(L"s.bin", Pattern(100000)); }, false},
#ifndef _WIN32
      {"same size, later time",
       [&](const std::wstring& p) {
         const auto t = fs::last_write_time(fs::path(p));
         dir_.Write(L"s.bin", std::string(300000, 'x'));
         fs::last_write_time(fs::path(p), t + std::chrono::seconds(2));
       },
       false},
      {"swapped for a link to another file",
       [&](const std::wstring& p) {
         fs::remove(fs::path(p));
         fs::create_symlink(fs::path(other), fs::path(p));
       },
       true},
      {"swapped for a FIFO",
       [&](const std::wstring& p) {
         fs::remove(fs::path(p));
         ASSERT_EQ(mkfifo(fs::path(p).c_str(), 0600), 0);
       },
       true},
#endif
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    fs::remove(fs::path(dir_.File(L"s.bin")));
    const std::wstring path = dir_.Write(L"s.bin", original);
#ifdef _WIN32
    auto item = HostItem("abc", path, "s.bin", original.size(), false);
#else
    auto item = HostItem("abc", path, "s.bin", original.size());
#endif
    c.change(path);
    const Exchange ex = Ask(Get("/abc?dl=1"), hwnd_);
    if (c.served) {
      ASSERT_NE(ex.answer.find("\r\n\r\n"), std::string::npos);
      EXPECT_EQ(ex.answer.compare(0, 17, "HTTP/1.1 200 OK\r\n"), 0);
      EXPECT_TRUE(ex.answer.substr(ex.answer.find("\r\n\r\n") + 4) == original);
      EXPECT_EQ(item->downloads.load(), 1);
    } else {
      EXPECT_EQ(ex.answer, k500);
      EXPECT_EQ(item->downloads.load(), 0);
    }
    ClearHosted();
    item.reset();
    DrainAppMessages();
  }
}

// An item removed while its file is being sent finishes that transfer; the
// item (its lock, its temporary archive) goes only when the transfer ends.
TEST_F(Handler, RemovedItemFinishesItsTransfer) {
  for (const bool removeAll : {false, true}) {
    SCOPED_TRACE(removeAll ? "remove all" : "remove one");
    const size_t size = 16u << 20;
    const std::string body = Pattern(size);
    const std::wstring zip = dir_.Write(L"folder_1.zip", body);
    HostItem("keep", dir_.Write(L"keep.txt", "k"), "keep.txt", 1);
    std::weak_ptr<HostedItem> weak = HostItem("abc", zip, "folder_1.zip", size, true, zip);

    LoopbackPair p = MakeLoopbackPair();
    ASSERT_NE(p.client, INVALID_SOCKET);
    std::thread server(HandleClient, p.server, hwnd_);
    SendText(p.client, Get("/abc?dl=1"));
    std::string got = ReadAll(p.client, 5000, nullptr, 65536);
    ASSERT_GE(got.size(), 65536u);

    if (removeAll) {
      ClearHosted();
    } else {
      std::shared_ptr<HostedItem> removed;
      int internetLeft = -1;
      ASSERT_TRUE(RemoveHostedAt(1, removed, internetLeft));
      EXPECT_EQ(removed->slug, "abc");
    }
    EXPECT_FALSE(weak.expired());
    EXPECT_TRUE(PathExists(zip));
    EXPECT_EQ(Ask(Get("/abc")).answer, k404);

    bool reset = false;
    got += ReadAll(p.client, 10000, &reset);
    EXPECT_FALSE(reset);
    closesocket(p.client);
    server.join();
    ASSERT_GT(got.size(), size);
    EXPECT_TRUE(got.substr(got.size() - size) == body);
    EXPECT_TRUE(weak.expired());
    EXPECT_FALSE(PathExists(zip));
    EXPECT_EQ(CountDownloadDone(), 1);
    ClearHosted();
  }
}

TEST_F(Handler, OversizedHeadGets413WithoutReset) {
  HostItem("abc", dir_.Write(L"o.txt", "o"), "o.txt", 1);
  const struct {
    std::string request;
  } cases[] = {
      {"GET /abc HTTP/1.1\r\nX-Filler: " + std::string(20000, 'a')},
      {"GET /abc HTTP/1.1\n" + std::string(20000, '\n')},  // LF-only lines never end a head
  };
  for (const auto& c : cases) {
    const Exchange ex = Ask(c.request);
    EXPECT_EQ(ex.answer, k413);
    EXPECT_FALSE(ex.reset);
  }
}

TEST_F(Handler, UnreadBytesAfterTheHeadDoNotResetTheAnswer) {
  HostItem("abc", dir_.Write(L"u.txt", "0123456789"), "u.txt", 10);
  const std::string body(50000, 'b');
  const struct {
    std::string request;
    std::string firstLine;
  } cases[] = {
      {Get("/abc", "Content-Length: 50000\r\n", "POST") + body, "HTTP/1.1 405 Method Not Allowed"},
      {Get("/abc?dl=1") + body, "HTTP/1.1 200 OK"},
      {Get("/abc") + Get("/abc") + body, "HTTP/1.1 200 OK"},
      {Get("/zzz") + body, "HTTP/1.1 404 Not Found"},
  };
  for (const auto& c : cases) {
    const Exchange ex = Ask(c.request);
    EXPECT_EQ(ex.answer.substr(0, ex.answer.find("\r\n")), c.firstLine);
    EXPECT_FALSE(ex.reset);
    const size_t end = ex.answer.find("\r\n\r\n");
    ASSERT_NE(end, std::string::npos);
  }
}

TEST_F(Handler, HeadThatNeverEndsGetsNoAnswer) {
  HostItem("abc", dir_.Write(L"l.txt", "l"), "l.txt", 1);
  LoopbackPair p = MakeLoopbackPair();
  ASSERT_NE(p.client, INVALID_SOCKET);
  std::thread server(HandleClient, p.server, hwnd_);
  SendText(p.client, "GET /abc?dl=1 HTTP/1.1\nHost: x\n\n");
  ShutdownSend(p.client);
  EXPECT_EQ(ReadAll(p.client, 5000), "");
  closesocket(p.client);
  server.join();
  EXPECT_EQ(CountDownloadDone(300), 0);
}

TEST_F(Handler, ParallelDownloadsAreAllCounted) {
  auto item = HostItem("abc", dir_.Write(L"p.bin", Pattern(200000)), "p.bin", 200000);
  std::vector<std::thread> clients;
  std::atomic<int> complete{0};
  for (int i = 0; i < 8; ++i) {
    clients.emplace_back([&] {
      const Exchange ex = Ask(Get("/abc?dl=1"));
      if (ex.answer.size() > 200000 && ex.answer.substr(ex.answer.size() - 200000) == Pattern(200000))
        ++complete;
    });
  }
  for (auto& t : clients) t.join();
  EXPECT_EQ(complete.load(), 8);
  EXPECT_EQ(item->downloads.load(), 8);
}

// The floor's deadline after a run of progress marks (ms, bytes taken), the
// first body byte going out at 0.
TEST(TransferFloor, DeadlineAfterProgress) {
  const struct {
    const char* label;
    std::vector<std::pair<int64_t, uint64_t>> marks;
    int64_t deadline;
  } cases[] = {
      {"nothing taken", {}, 60000},
      {"less than the floor", {{1000, 10000}, {50000, 16383}}, 60000},
      {"exactly the floor", {{1000, 16384}}, 61000},
      {"no new bytes is no progress", {{5000, 100}, {6000, 100}}, 60000},
      {"a burst, then too little", {{10000, 20000}, {50000, 30000}}, 70000},
      {"steady small steps", {{20000, 8192}, {40000, 16384}, {59000, 24576}}, 100000},
      {"a big step counts from when it was seen", {{1000, 4096}, {90000, 1u << 20}}, 150000},
  };
  for (const auto& c : cases) {
    TransferFloor floor;
    StartTransferFloor(floor, 0);
    for (const auto& [ms, taken] : c.marks) NoteTransferProgress(floor, ms, taken);
    EXPECT_EQ(TransferFloorDeadline(floor), c.deadline) << c.label;
  }
}

}  // namespace
