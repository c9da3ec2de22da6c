#include "http/handler.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#include "core/app_messages.h"
#include "core/registry.h"
#include "http/http_text.h"
#include "http/transfer_floor.h"
#include "platform/file.h"
#include "platform/message.h"
#include "platform/sendfile.h"

namespace {

// The whole request head must arrive within this time of the connection's
// start, however the bytes trickle in.
constexpr int64_t kHeadDeadlineMs = 15000;
// Each send of a header or a page; the file body is bounded by the transfer
// floor instead (transfer_floor.h).
constexpr unsigned kSendTimeoutMs = 60000;
constexpr size_t kRecvChunk = 2048;
constexpr size_t kMaxHead = 16384;
// The copying send path (Windows) reads and sends this much per call: no more
// than the floor, so that a slow link's every piece counts before the floor's
// deadline. Linux hands over larger pieces with sendfile.
constexpr size_t kCopyChunk = kFloorBytes;
// Longest wait for room in the socket before the transfer floor looks at the
// peer's progress again, where the send queue can be watched: a reader that
// stopped is dropped at most this long after the floor's deadline.
constexpr int64_t kProgressLookMs = 5000;
// CloseGracefully: how much and how long to read after an answer.
constexpr size_t kDrainMaxBytes = 65536;
constexpr unsigned kDrainMaxMs = 2000;

constexpr char kHealthSlug[] = "__vhhealth";
constexpr char kRangeKey[] = "range: bytes=";
constexpr size_t kRangeKeyLen = sizeof kRangeKey - 1;

constexpr char k413[] =
    "HTTP/1.1 413 Payload Too Large\r\nX-Content-Type-Options: nosniff\r\nCache-Control: "
    "no-store\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
constexpr char k405[] =
    "HTTP/1.1 405 Method Not Allowed\r\nAllow: GET, HEAD\r\nX-Content-Type-Options: "
    "nosniff\r\nCache-Control: no-store\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
constexpr char k500[] =
    "HTTP/1.1 500 Internal Server Error\r\nX-Content-Type-Options: nosniff\r\nCache-Control: "
    "no-store\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
constexpr char k416Fmt[] =
    "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */%llu\r\nContent-Length: "
    "0\r\nX-Content-Type-Options: nosniff\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n";
constexpr char kHealthHeader[] =
    "HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: "
    "11\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n";
constexpr char kHealthBody[] = "vornhale-ok";
constexpr char kPageHeaderFmt[] =
    "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: "
    "%zu\r\nCache-Control: no-store, max-age=0\r\nX-Frame-Options: DENY\r\nX-Content-Type-Options: "
    "nosniff\r\nReferrer-Policy: no-referrer\r\nConnection: close\r\n\r\n";
constexpr char kFileHeaderTail[] =
    "Accept-Ranges: bytes\r\nCache-Control: no-store\r\nX-Content-Type-Options: "
    "nosniff\r\nConnection: close\r\n\r\n";

static_assert(sizeof k413 - 1 == 130);
static_assert(sizeof k405 - 1 == 149);
static_assert(sizeof k500 - 1 == 134);

// The download page up to the item's name. One line; the blossom is U+1F338.
constexpr char kPageHead[] =
    "<!doctype html><html lang=\"en\"><head><meta charset=\"UTF-8\"><meta name=\"viewport\" content=\""
    "width=device-width,initial-scale=1\"><title>Download - Vorn-Hale</title><style>*{box-sizing:bord"
    "er-box;margin:0;padding:0}body{font-family:'Segoe UI',Arial,sans-serif;background:#fff7f9;color:"
    "#3a2a30;display:flex;flex-direction:column;align-items:center;justify-content:center;min-height:1"
    "00vh;padding:40px 16px}.card{background:#fff;border:1px solid #f3cdd8;border-radius:18px;padding:"
    "36px 32px;max-width:520px;width:100%;text-align:center;box-shadow:0 10px 40px rgba(138,44,70,.12)"
    "}.bloom{font-size:1.9em;line-height:1;margin-bottom:8px}h1{font-size:1.25em;margin-bottom:6px;fon"
    "t-weight:600;word-break:break-all;color:#3a2a30}.size{font-size:.85em;color:#6b4a52;margin-bottom"
    ":22px}.ad-slot{margin:22px 0;min-height:90px;background:#fdeef2;border:1px dashed #f3cdd8;border-r"
    "adius:12px;display:flex;align-items:center;justify-content:center;padding:8px}.btn{display:inline"
    "-block;background:#b13c5e;color:#fff;border:none;padding:13px 34px;font-size:1em;border-radius:99"
    "9px;cursor:pointer;text-decoration:none;font-weight:600;box-shadow:0 6px 18px rgba(177,60,94,.3)}"
    "a.btn{color:#fff}.btn:hover{background:#e85d86}.btn:focus-visible{outline:3px solid #8a2c46;outli"
    "ne-offset:2px}.powered{margin-top:24px;font-size:.74em;color:#8a2c46;letter-spacing:.04em}</style"
    "></head><body><main class=\"card\"><div class=\"bloom\" aria-hidden=\"true\">"
    "\xF0\x9F\x8C\xB8"
    "</div><h1>";
static_assert(sizeof kPageHead - 1 == 1434, "the page head is 1434 bytes");

constexpr char kPageAfterName[] = "</h1><div class=\"size\">";
constexpr char kPageAfterSize[] = "</div><div class=\"ad-slot\">";
constexpr char kPageAdSlot[] =
    "<span style='color:#555;font-size:.85em'>Advertisement</span>";
constexpr char kPageButton[] = "</div><a class=\"btn\" href=\"?dl=1\" download=\"";
constexpr char kPageTail[] =
    "\">Download file</a><div class=\"powered\">Shared via Vorn-Hale</div></main></body></html>";
static_assert(sizeof kPageAfterName - 1 == 23 && sizeof kPageAfterSize - 1 == 27 &&
              sizeof kPageAdSlot - 1 == 61 && sizeof kPageButton - 1 == 44 &&
              sizeof kPageTail - 1 == 87);

// What the range step decided.
struct Range {
  bool satisfiable = true;
  int64_t start = -1;  // -1: no Range header
  int64_t end = 0;
  uint64_t length = 0;
};

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void SendText(SOCKET s, const char* text, size_t len) {
  (void)SendAll(s, text, static_cast<int>(len));
}

template <size_t N>
void SendCanned(SOCKET s, const char (&text)[N]) {
  SendText(s, text, N - 1);
}

// Whitespace as a formatted stream extraction sees it in the classic locale.
bool IsStreamSpace(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Next whitespace-delimited word of line from pos on; empty when there is none.
std::string NextWord(const std::string& line, size_t& pos) {
  while (pos < line.size() && IsStreamSpace(static_cast<unsigned char>(line[pos]))) ++pos;
  const size_t begin = pos;
  while (pos < line.size() && !IsStreamSpace(static_cast<unsigned char>(line[pos]))) ++pos;
  return line.substr(begin, pos - begin);
}

unsigned char AsciiLower(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

// std::stoll (base 10) with every failure turned into -1.
int64_t ToInt64OrMinusOne(const std::string& text) {
  try {
    return static_cast<int64_t>(std::stoll(text, nullptr, 10));
  } catch (const std::exception&) {
    return -1;
  }
}

// The range step over the whole request buffer: finds the first
// "range: bytes=" (ASCII case-insensitive) and applies it to an item of `size`.
Range ParseRange(const std::string& req, uint64_t size) {
  Range r;
  r.length = size;
  r.end = static_cast<int64_t>(size) - 1;
  if (size == 0) r.end = 0;
  if (req.size() <= 12) return r;
  size_t found = std::string::npos;
  for (size_t p = 0; p + kRangeKeyLen <= req.size(); ++p) {
    size_t k = 0;
    while (k < kRangeKeyLen &&
           AsciiLower(static_cast<unsigned char>(req[p + k])) ==
               static_cast<unsigned char>(kRangeKey[k]))
      ++k;
    if (k == kRangeKeyLen) {
      found = p;
      break;
    }
  }
  if (found == std::string::npos) return r;
  const size_t valueBegin = found + kRangeKeyLen;
  size_t valueEnd = req.find_first_of("\r\n", valueBegin);
  if (valueEnd == std::string::npos) valueEnd = req.size();
  const std::string value = req.substr(valueBegin, valueEnd - valueBegin);
  const size_t dash = value.find('-');
  if (dash == std::string::npos) {
    r.satisfiable = false;
    return r;
  }
  const int64_t start = ToInt64OrMinusOne(value.substr(0, dash));
  int64_t end = ToInt64OrMinusOne(value.substr(dash + 1));
  if (start < 0 || static_cast<uint64_t>(start) >= size || (end >= 0 && start > end)) {
    r.satisfiable = false;
    return r;
  }
  if (end < 0 || static_cast<uint64_t>(end) >= size) end = static_cast<int64_t>(size - 1);
  r.start = start;
  r.end = end;
  r.length = static_cast<uint64_t>(end) + 1 - static_cast<uint64_t>(start);
  return r;
}

void Send416(SOCKET s, uint64_t size) {
  char buf[256];
  const int n = std::snprintf(buf, sizeof buf, k416Fmt, static_cast<unsigned long long>(size));
  if (n > 0 && n < static_cast<int>(sizeof buf)) SendText(s, buf, static_cast<size_t>(n));
}

void SendHealth(SOCKET s) {
  SendCanned(s, kHealthHeader);
  SendCanned(s, kHealthBody);
}

void SendPage(SOCKET s, const HostedItem& item) {
  const std::string name = HtmlEscape(item.name);
  std::string page;
  page.reserve(sizeof kPageHead + 2 * name.size() + 256);
  page.append(kPageHead, sizeof kPageHead - 1);
  page += name;
  page += kPageAfterName;
  page += FmtSizeUtf8(item.size);
  page += kPageAfterSize;
  page += kPageAdSlot;
  page += kPageButton;
  page += name;
  page += kPageTail;
  char header[512];
  const int n = std::snprintf(header, sizeof header, kPageHeaderFmt, page.size());
  if (n > 0 && n < static_cast<int>(sizeof header)) SendText(s, header, static_cast<size_t>(n));
  SendText(s, page.data(), page.size());
}

void SendHead(SOCKET s, const HostedItem& item) {
  std::string h;
  h.reserve(256);
  h += "HTTP/1.1 200 OK\r\n";
  h += "Content-Type: " + MimeType(item.name) + "\r\n";
  h += "Content-Length: " + std::to_string(item.size) + "\r\n";
  h += kFileHeaderTail;
  SendText(s, h.data(), h.size());
}

// The GET file answer. Returns after the last byte or the first failure; the
// caller closes the socket.
void SendFile(SOCKET s, HWND hwnd, HostedItem& item, const Range& range) {
  // The file must still be the one that was shared: a change in size or time
  // means its bytes are no longer those the length below promises.
  ScopedFile file(OpenHeldFileForReading(item.fileHandle, item.path));
  FileStamp stamp;
  if (!file.valid() || !ReadFileStamp(file.get(), stamp) || stamp.size != item.size ||
      stamp.modified != item.modified) {
    SendCanned(s, k500);
    return;
  }
  std::string h;
  h.reserve(512);
  if (range.start < 0) {
    h += "HTTP/1.1 200 OK\r\n";
  } else {
    h += "HTTP/1.1 206 Partial Content\r\n";
    h += "Content-Range: bytes " + std::to_string(range.start) + "-" + std::to_string(range.end) +
         "/" + std::to_string(item.size) + "\r\n";
  }
  h += "Content-Type: " + MimeType(item.name) + "\r\n";
  h += "Content-Length: " + std::to_string(range.length) + "\r\n";
  h += "Content-Disposition: attachment; filename*=UTF-8''" + URLEncode(item.name) + "\r\n";
  h += kFileHeaderTail;
  if (!SendAll(s, h.data(), static_cast<int>(h.size()))) return;
  if (item.size == 0) return;

  PrepareFileSendSocket(s);
  char buf[kCopyChunk];
  uint64_t offset = range.start < 0 ? 0 : static_cast<uint64_t>(range.start);
  uint64_t left = range.length;
  uint64_t handed = 0;  // body bytes handed to the system
  uint64_t queued = 0;  // of those (and of the header), not yet taken by the peer
  // Where the send queue can be watched (Linux), a wait for room is cut into
  // short ones, each ending with a look at what the peer took meanwhile: with
  // large socket buffers a slow reader frees room only now and then, yet
  // takes bytes all the time. Elsewhere what was handed over counts, and a
  // wait that runs out ends the transfer.
  const bool watchQueue = UnacknowledgedBytes(s, queued);
  TransferFloor floor;
  StartTransferFloor(floor, NowMs());
  int64_t timeoutSetMs = -1;
  while (left > 0) {
    int64_t waitMs = TransferFloorDeadline(floor) - NowMs();
    if (waitMs <= 0) break;  // below the floor: the peer takes too little
    if (watchQueue && waitMs > kProgressLookMs) waitMs = kProgressLookMs;
    if (waitMs != timeoutSetMs) {  // a reader that keeps up: the same 5 s every time
      SetSendTimeoutMs(s, static_cast<unsigned>(waitMs));
      timeoutSetMs = waitMs;
    }
    const int64_t n = SendFileToSocket(s, file.get(), offset, left, buf, sizeof buf);
    if (n == 0) break;  // the file came up short
    if (n < 0 && !(watchQueue && SendFileTimedOut())) break;  // the send failed
    if (n > 0) {
      offset += static_cast<uint64_t>(n);
      left -= static_cast<uint64_t>(n);
      handed += static_cast<uint64_t>(n);
    }
    if (!UnacknowledgedBytes(s, queued)) queued = 0;
    NoteTransferProgress(floor, NowMs(), handed > queued ? handed - queued : 0);
  }
  if (left == 0) item.downloads.fetch_add(1);
  PostWindowMessage(hwnd, WM_DOWNLOAD_DONE, 0, 0);
}

// Reads the request head into req. False when the peer closed or failed, or
// when the head was not complete at deadlineMs (nothing is sent then);
// `tooLarge` when it passed kMaxHead first.
bool ReadHead(SOCKET s, std::string& req, bool& tooLarge, int64_t deadlineMs) {
  tooLarge = false;
  char chunk[kRecvChunk];
  for (;;) {
    const int64_t leftMs = deadlineMs - NowMs();
    if (leftMs <= 0) return false;
    SetRecvTimeoutMs(s, static_cast<unsigned>(leftMs));
    const int n = static_cast<int>(recv(s, chunk, sizeof chunk, 0));
    if (n <= 0) return false;
    const size_t before = req.size();
    req.append(chunk, static_cast<size_t>(n));
    // Only the new bytes and the three before them can complete the blank line.
    const size_t from = before >= 3 ? before - 3 : 0;
    if (req.find("\r\n\r\n", from) != std::string::npos) return true;
    if (req.size() > kMaxHead) {
      tooLarge = true;
      return true;
    }
  }
}

}  // namespace

void CloseGracefully(SOCKET s) {
  ShutdownSend(s);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kDrainMaxMs);
  char buf[4096];
  size_t drained = 0;
  while (drained < kDrainMaxBytes) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) break;
    SetRecvTimeoutMs(s, static_cast<unsigned>(left));
    const int n = static_cast<int>(recv(s, buf, sizeof buf, 0));
    if (n <= 0) break;
    drained += static_cast<size_t>(n);
  }
  closesocket(s);
}

void HandleClient(SOCKET s, HWND hwnd) {
  // The connection's thread starts right after accept: the head's deadline
  // counts from here.
  const int64_t headDeadlineMs = NowMs() + kHeadDeadlineMs;
  SetSendTimeoutMs(s, kSendTimeoutMs);
  // Answers go out as header and body in separate sends; Nagle's algorithm
  // would hold the second back until the first is acknowledged.
  SetNoDelay(s);

  std::string req;
  req.reserve(kRecvChunk);
  bool tooLarge = false;
  if (!ReadHead(s, req, tooLarge, headDeadlineMs)) {
    closesocket(s);
    return;
  }
  if (tooLarge) {
    SendCanned(s, k413);
    CloseGracefully(s);
    return;
  }

  const std::string line = req.substr(0, req.find("\r\n"));
  size_t pos = 0;
  const std::string method = NextWord(line, pos);
  const std::string target = NextWord(line, pos);
  if (method.empty() || target.empty() || target[0] != '/') {
    Send404(s);
    CloseGracefully(s);
    return;
  }
  const std::string rest = target.substr(1);
  const size_t q = rest.find('?');
  const std::string path = q == std::string::npos ? rest : rest.substr(0, q);
  const std::string query = q == std::string::npos ? std::string() : rest.substr(q + 1);
  const std::string slug = URLDecode(path);
  const bool download = query.find("dl=1") != std::string::npos;

  if (slug == kHealthSlug) {
    SendHealth(s);
    CloseGracefully(s);
    return;
  }
  std::shared_ptr<HostedItem> item;
  if (IsValidPathSegment(slug)) item = FindHostedBySlug(slug);
  if (!item) {
    Send404(s);
    CloseGracefully(s);
    return;
  }

  if (method == "GET" && !download) {
    SendPage(s, *item);
  } else {
    const Range range = ParseRange(req, item->size);
    if (!range.satisfiable)
      Send416(s, item->size);
    else if (method == "HEAD")
      SendHead(s, *item);
    else if (method != "GET")
      SendCanned(s, k405);
    else
      SendFile(s, hwnd, *item, range);
  }
  CloseGracefully(s);
  // `item` is released here; if it has left the registry meanwhile, this is
  // where its lock is closed and its temporary archive deleted.
}
