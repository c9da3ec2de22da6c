#include "http/request.h"

#include <cstdio>
#include <stdexcept>

#include "text/http_text.h"

namespace {

constexpr char kHealthSlug[] = "__vhhealth";
constexpr char kRangeKey[] = "range: bytes=";
constexpr size_t kRangeKeyLen = sizeof kRangeKey - 1;

constexpr char k413[] =
    "HTTP/1.1 413 Payload Too Large\r\nX-Content-Type-Options: nosniff\r\nCache-Control: "
    "no-store\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
constexpr char k405[] =
    "HTTP/1.1 405 Method Not Allowed\r\nAllow: GET, HEAD\r\nX-Content-Type-Options: "
    "nosniff\r\nCache-Control: no-store\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
constexpr char k416Fmt[] =
    "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */%llu\r\nContent-Length: "
    "0\r\nX-Content-Type-Options: nosniff\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n";
constexpr char kHealthHeader[] =
    "HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: "
    "11\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n";
constexpr char kHealthBody[] = "vornhale-ok";
constexpr char kPageHeaderFmt[] =
    "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: "
    "%llu\r\nCache-Control: no-store, max-age=0\r\nX-Frame-Options: DENY\r\nX-Content-Type-Options: "
    "nosniff\r\nReferrer-Policy: no-referrer\r\nConnection: close\r\n\r\n";
constexpr char kFileHeaderTail[] =
    "Accept-Ranges: bytes\r\nCache-Control: no-store\r\nX-Content-Type-Options: "
    "nosniff\r\nConnection: close\r\n\r\n";

static_assert(sizeof k413 - 1 == 130);
static_assert(sizeof k405 - 1 == 149);
static_assert(sizeof kFileChangedAnswer - 1 == 134);

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

constexpr char k404Page[] =
    "<!doctype html><html lang=\"en\"><head><meta charset=\"utf-8\"><meta name=\"viewport\" content=\""
    "width=device-width,initial-scale=1\"><title>Not found</title></head><body style='font-family:san"
    "s-serif;padding:40px;color:#222'><main><h1 style='font-size:1.3em;margin:0 0 8px'>Link not found"
    "</h1><p style='margin:0'>This link is invalid or has been stopped.</p></main></body></html>";
static_assert(sizeof k404Page - 1 == 372, "the not-found page is 372 bytes");

constexpr char k404HeaderFmt[] =
    "HTTP/1.1 404 Not Found\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: %llu\r\n"
    "X-Content-Type-Options: nosniff\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n";

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

std::string Printed(const char* format, unsigned long long value) {
  char buf[256];
  const int n = std::snprintf(buf, sizeof buf, format, value);
  return n > 0 && n < static_cast<int>(sizeof buf) ? std::string(buf, static_cast<size_t>(n))
                                                   : std::string();
}

void PlanPage(ResponsePlan& plan, const HostedItem& item) {
  const std::string name = HtmlEscape(item.name);
  std::string& page = plan.body;
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
  plan.head = Printed(kPageHeaderFmt, page.size());
}

void PlanFile(ResponsePlan& plan, const HostedItem& item, const Range& range) {
  std::string& h = plan.head;
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
  plan.file = true;
  plan.offset = range.start < 0 ? 0 : static_cast<uint64_t>(range.start);
  plan.length = range.length;
}

}  // namespace

HeadState CheckHead(const std::string& bytes, size_t newFrom) {
  // Only the new bytes and the three before them can complete the blank line.
  const size_t from = newFrom >= 3 ? newFrom - 3 : 0;
  if (bytes.find("\r\n\r\n", from) != std::string::npos) return HeadState::kComplete;
  return bytes.size() > kMaxHead ? HeadState::kTooLarge : HeadState::kIncomplete;
}

HttpRequest ParseRequestHead(const std::string& bytes) {
  HttpRequest req;
  req.bytes = bytes;
  if (bytes.find("\r\n\r\n") == std::string::npos) {
    req.route = Route::kTooLarge;
    return req;
  }
  const std::string line = bytes.substr(0, bytes.find("\r\n"));
  size_t pos = 0;
  req.method = NextWord(line, pos);
  const std::string target = NextWord(line, pos);
  if (req.method.empty() || target.empty() || target[0] != '/') return req;
  const std::string rest = target.substr(1);
  const size_t q = rest.find('?');
  const std::string path = q == std::string::npos ? rest : rest.substr(0, q);
  const std::string query = q == std::string::npos ? std::string() : rest.substr(q + 1);
  const std::string slug = URLDecode(path);
  req.download = query.find("dl=1") != std::string::npos;
  if (slug == kHealthSlug) {
    req.route = Route::kHealth;
  } else if (IsValidPathSegment(slug)) {
    req.route = Route::kItem;
    req.slug = slug;
  }
  return req;
}

ResponsePlan PlanResponse(const HttpRequest& req, const HostedItem* item) {
  ResponsePlan plan;
  if (req.route == Route::kTooLarge) {
    plan.head = k413;
  } else if (req.route == Route::kHealth) {
    plan.head = kHealthHeader;
    plan.body = kHealthBody;
  } else if (req.route != Route::kItem || !item) {
    plan.head = Printed(k404HeaderFmt, sizeof k404Page - 1);
    plan.body = k404Page;
  } else if (req.method == "GET" && !req.download) {
    PlanPage(plan, *item);
  } else {
    const Range range = ParseRange(req.bytes, item->size);
    if (!range.satisfiable)
      plan.head = Printed(k416Fmt, item->size);
    else if (req.method == "HEAD")
      plan.head = "HTTP/1.1 200 OK\r\nContent-Type: " + MimeType(item->name) +
                  "\r\nContent-Length: " + std::to_string(item->size) + "\r\n" + kFileHeaderTail;
    else if (req.method != "GET")
      plan.head = k405;
    else
      PlanFile(plan, *item, range);
  }
  return plan;
}
