// The pure request handling, the text helpers and the transfer floor, in memory.
#include <gtest/gtest.h>

#include "http/request.h"
#include "http/transfer_floor.h"
#include "net_client.h"  // Get
#include "text/http_text.h"

namespace {
const std::string kNs = "X-Content-Type-Options: nosniff\r\nCache-Control: no-store\r\n";
const std::string kTail = "Accept-Ranges: bytes\r\nCache-Control: no-store\r\n"
                          "X-Content-Type-Options: nosniff\r\nConnection: close\r\n\r\n";
const std::string kEsc = "a&lt;b&gt;&amp;&quot;c&#39;.txt";
const std::string k404 = "HTTP/1.1 404 Not Found\r\nContent-Type: text/html; charset=utf-8\r\n"
                         "Content-Length: 372\r\n" + kNs + "Connection: close\r\n\r\n";
const std::string kHealth = "HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=utf-8\r\n"
                            "Content-Length: 11\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n";
const std::string k405 = "HTTP/1.1 405 Method Not Allowed\r\nAllow: GET, HEAD\r\n" + kNs +
                         "Content-Length: 0\r\nConnection: close\r\n\r\n";
const std::string k413 = "HTTP/1.1 413 Payload Too Large\r\n" + kNs + "Content-Length: 0\r\nConnection: close\r\n\r\n";
const std::string kHead = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 100\r\n" + kTail;
const std::string kPage = "PAGE", k404Page = "404 PAGE";  // compared by hash
std::string R416(int size) {
  return "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */" + std::to_string(size) +
         "\r\nContent-Length: 0\r\n" + kNs + "Connection: close\r\n\r\n";
}
// The file answer's head for the item "abc" (100 bytes): whole, or bytes a-b.
std::string File(int a = -1, int b = 99, const std::string& name = "a%3Cb%3E%26%22c%27.txt", int size = 100) {
  return (a < 0 ? "HTTP/1.1 200 OK\r\n"
                : "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(a) + "-" +
                      std::to_string(b) + "/100\r\n") +
         "Content-Type: text/plain\r\nContent-Length: " + std::to_string(a < 0 ? size : b - a + 1) +
         "\r\nContent-Disposition: attachment; filename*=UTF-8''" + name + "\r\n" + kTail;
}
std::string Ranged(const std::string& value, const std::string& method = "GET") {
  return Get("/abc?dl=1", "Range: bytes=" + value + "\r\n", method);
}
uint64_t Fnv1a(const std::string& s) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (const unsigned char c : s) h = (h ^ c) * 0x100000001b3ull;
  return h;
}

TEST(PlanResponse, AnswersEveryRequestKind) {
  HostedItem abc, emp;
  abc.name = "a<b>&\"c'.txt", abc.size = 100, emp.name = "e.txt";
  const struct {
    std::string request, head, body;
    int from = -1, len = 0;  // from >= 0: the file's bytes [from, from + len) follow
  } rows[] = {
      {Get("/__vhhealth?x=1", "", "POST"), kHealth, "vornhale-ok"},
      {Get("/%5F_vhhealth", "", "HEAD"), kHealth, "vornhale-ok"},
      {Get("/%61bc?dl=0"), kPage, kPage}, {Get("/abc?xdl=10"), File(), "", 0, 100},
      {"  GET\t/abc?dl=1\r\n\r\n", File(), "", 0, 100}, {Get("/abc", "", "HEAD"), kHead, ""},
      {Ranged("50-40", "HEAD"), R416(100), ""}, {Get("/abc", "", "POST"), k405, ""}, {Get("/abc", "", "get"), k405, ""},
      {Get("/ABC"), k404, k404Page}, {Get("/abc%2F"), k404, k404Page}, {"\r\n\r\n", k404, k404Page},
      {"GET /abc HTTP/1.1\r\nX-Filler: " + std::string(20000, 'a'), k413, ""},
      {"GET /abc HTTP/1.1\n" + std::string(20000, '\n'), k413, ""},  // LF alone ends nothing
      // One range, clamped to the 100 bytes; anything else 416.
      {Ranged("10-"), File(10, 99), "", 10, 90}, {Ranged("90-100"), File(90, 99), "", 90, 10},
      {Ranged("0-1,5-6"), File(0, 1), "", 0, 2}, {Ranged("0-0"), File(0, 0), "", 0, 1},
      {Ranged("99-99"), File(99, 99), "", 99, 1},
      {Get("/abc?dl=1", "RANGE: BYTES=3-4\r\n"), File(3, 4), "", 3, 2},
      {Get("/abc?dl=1", "Range: bytes =3-4\r\n"), File(), "", 0, 100},
      {Ranged("50-40"), R416(100), ""}, {Ranged("100-"), R416(100), ""}, {Ranged("-10"), R416(100), ""},
      {Ranged("99999999999999999999-"), R416(100), ""}, {Get("/emp?dl=1", "Range: bytes=0-\r\n"), R416(0), ""},
      {Get("/emp?dl=1"), File(-1, 0, "e.txt", 0), "", 0, 0}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.request.substr(0, 80));
    const HttpRequest req = ParseRequestHead(r.request);
    const HostedItem* item = nullptr;  // the registry's lookup
    if (req.route == Route::kItem) item = req.slug == "abc" ? &abc : req.slug == "emp" ? &emp : nullptr;
    const ResponsePlan plan = PlanResponse(req, item);
    if (r.head == kPage) {
      ASSERT_GT(plan.body.size(), 1434u);
      EXPECT_EQ(Fnv1a(plan.body.substr(0, 1434)), 0x9335aae5c8896d45ull);  // the fixed page head
      EXPECT_EQ(plan.head + plan.body.substr(1434),
                "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                    std::to_string(plan.body.size()) + "\r\nCache-Control: no-store, max-age=0\r\nX-Frame-Options: DENY"
                    "\r\nX-Content-Type-Options: nosniff\r\nReferrer-Policy: no-referrer\r\nConnection: close\r\n\r\n" +
                    kEsc + "</h1><div class=\"size\">100 B</div><div class=\"ad-slot\"><span style='color:#555;"
                    "font-size:.85em'>Advertisement</span></div><a class=\"btn\" href=\"?dl=1\" download=\"" + kEsc +
                    "\">Download file</a><div class=\"powered\">Shared via Vorn-Hale</div></main></body></html>");
    } else {
      EXPECT_EQ(plan.head, r.head);
      EXPECT_TRUE(r.body == k404Page ? Fnv1a(plan.body) == 0xb0f1db237ebc0a97ull : plan.body == r.body);
    }
    EXPECT_EQ(plan.file ? std::to_string(plan.offset) + "+" + std::to_string(plan.length) : "-",
              r.from >= 0 ? std::to_string(r.from) + "+" + std::to_string(r.len) : "-");
  }
}

TEST(CheckHead, EndsAtTheBlankLineOrPastTheLimit) {
  const std::string big(kMaxHead, 'a'), req = "GET / HTTP/1.1\r\n\r\n";
  using enum HeadState;
  const std::tuple<std::string, size_t, HeadState> rows[] = {
      {"GET / HTTP/1.1\r\n", 0, kIncomplete}, {req, 17, kComplete}, {req, 18, kIncomplete},
      {"GET /\n\n", 0, kIncomplete}, {big, 0, kIncomplete}, {big + "a", 0, kTooLarge},
      {big + "\r\n\r\n", 0, kComplete}};
  for (const auto& [bytes, newFrom, state] : rows) EXPECT_EQ(CheckHead(bytes, newFrom), state) << bytes.size();
}

TEST(HttpText, Conversions) {
  EXPECT_EQ(URLDecode("a%20b+c") + "|" + URLDecode("a%2X%") + "|" + URLDecode("%2541") + "|" + URLDecode("a%%41"),
            "a b c|a%2X%|%41|a%A");
  EXPECT_EQ(URLEncode(std::string("a b+A-Z_a.z~0\x00\x7F\xFF/%", 18)), "a%20b%2BA-Z_a.z~0%00%7F%FF%2F%25");
  EXPECT_EQ(HtmlEscape("<a&b'\">&amp;"), "&lt;a&amp;b&#39;&quot;&gt;&amp;amp;");
  EXPECT_EQ(MimeType("f.JpEg") + MimeType("x.zip.txt") + MimeType("dir.v2/readme"),
            "image/jpegtext/plainapplication/octet-stream");
  for (const auto& [in, ok] : std::vector<std::pair<std::string, bool>>{
           {"a-b_c9", true}, {std::string(32, 'x'), true}, {"ab", false}, {std::string(33, 'x'), false},
           {"a.b", false}, {"%41bc", false}, {"\xC3\xA9t\xC3\xA9", false}})
    EXPECT_EQ(IsValidPathSegment(in), ok) << in;
  EXPECT_EQ(FmtSizeUtf8(1023) + "|" + FmtSizeUtf8(1048575) + "|" + FmtSizeUtf8(1073741823) + "|" +
            FmtSizeUtf8(1073741824), "1023 B|1024.0 KB|1024.0 MB|1.00 GB");
}

// The floor's deadline after progress marks (ms, bytes taken) from a start at 0.
TEST(TransferFloor, DeadlineAfterProgress) {
  const std::pair<std::vector<std::pair<int64_t, uint64_t>>, int64_t> rows[] = {
      // Less than the floor, exactly the floor, no new bytes (no progress), a big step (from when it was seen).
      {{}, 60000}, {{{1000, 10000}, {50000, 16383}}, 60000}, {{{1000, 16384}}, 61000},
      {{{5000, 100}, {6000, 100}}, 60000}, {{{1000, 4096}, {90000, 1u << 20}}, 150000}};
  for (const auto& [marks, deadline] : rows) {
    TransferFloor floor;
    StartTransferFloor(floor, 0);
    for (const auto& [ms, taken] : marks) NoteTransferProgress(floor, ms, taken);
    EXPECT_EQ(TransferFloorDeadline(floor), deadline) << marks.size();
  }
}
}  // namespace
