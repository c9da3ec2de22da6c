#include "http/http_text.h"

#include <cstdio>
#include <cstring>

#include "platform/hex.h"

namespace {

constexpr size_t kMinSegment = 3;
constexpr size_t kMaxSegment = 32;

constexpr char k404Page[] =
    "<!doctype html><html lang=\"en\"><head><meta charset=\"utf-8\"><meta name=\"viewport\" content=\""
    "width=device-width,initial-scale=1\"><title>Not found</title></head><body style='font-family:san"
    "s-serif;padding:40px;color:#222'><main><h1 style='font-size:1.3em;margin:0 0 8px'>Link not found"
    "</h1><p style='margin:0'>This link is invalid or has been stopped.</p></main></body></html>";
constexpr int k404PageLen = static_cast<int>(sizeof k404Page - 1);
static_assert(sizeof k404Page - 1 == 372, "the not-found page is 372 bytes");

constexpr char k404HeaderFmt[] =
    "HTTP/1.1 404 Not Found\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: %d\r\n"
    "X-Content-Type-Options: nosniff\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n";

bool IsAsciiAlnum(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

unsigned char AsciiLower(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

}  // namespace

std::string URLDecode(const std::string& in) {
  std::string out;
  out.reserve(in.size());
  size_t i = 0;
  while (i < in.size()) {
    const unsigned char c = static_cast<unsigned char>(in[i]);
    if (c == '%' && i + 2 < in.size()) {
      const int hi = HexDigitValue(static_cast<unsigned char>(in[i + 1]));
      const int lo = HexDigitValue(static_cast<unsigned char>(in[i + 2]));
      if (hi >= 0 && lo >= 0) {
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 3;
        continue;
      }
    }
    out.push_back(c == '+' ? ' ' : static_cast<char>(c));
    ++i;
  }
  return out;
}

std::string URLEncode(const std::string& in) {
  std::string out;
  out.reserve(in.size());
  for (const char ch : in) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (IsAsciiAlnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out.push_back(ch);
    } else {
      out.push_back('%');
      AppendHexByte(out, c);
    }
  }
  return out;
}

bool IsValidPathSegment(const std::string& s) {
  if (s.size() < kMinSegment || s.size() > kMaxSegment) return false;
  for (const char ch : s) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (!IsAsciiAlnum(c) && c != '-' && c != '_') return false;
  }
  return true;
}

std::string HtmlEscape(const std::string& in) {
  std::string out;
  out.reserve(in.size());
  for (const char c : in) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out.push_back(c); break;
    }
  }
  return out;
}

std::string MimeType(const std::string& name) {
  static const struct {
    const char* ext;
    const char* type;
  } kTypes[] = {
      {"pdf", "application/pdf"}, {"zip", "application/zip"}, {"png", "image/png"},
      {"jpg", "image/jpeg"},      {"jpeg", "image/jpeg"},     {"gif", "image/gif"},
      {"mp4", "video/mp4"},       {"mp3", "audio/mpeg"},      {"txt", "text/plain"},
      {"html", "text/html"},      {"htm", "text/html"},
  };
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return "application/octet-stream";
  std::string ext = name.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(AsciiLower(static_cast<unsigned char>(c)));
  for (const auto& t : kTypes) {
    if (ext == t.ext) return t.type;
  }
  return "application/octet-stream";
}

std::string FmtSizeUtf8(uint64_t n) {
  char buf[32];
  const double v = static_cast<double>(n);
  if (n < 1024ull)
    std::snprintf(buf, sizeof buf, "%llu B", static_cast<unsigned long long>(n));
  else if (n < 1048576ull)
    std::snprintf(buf, sizeof buf, "%.1f KB", v / 1024.0);
  else if (n < 1073741824ull)
    std::snprintf(buf, sizeof buf, "%.1f MB", v / 1048576.0);
  else
    std::snprintf(buf, sizeof buf, "%.2f GB", v / 1073741824.0);
  return buf;
}

bool SendAll(SOCKET s, const char* data, int len) {
  if (len < 1) return true;
  int sent = 0;
  while (sent < len) {
    const int n = static_cast<int>(send(s, data + sent, len - sent, 0));
    if (n == SOCKET_ERROR || n == 0) return false;  // 0 cannot happen for len > 0
    sent += n;
  }
  return true;
}

void Send404(SOCKET s) {
  char header[256];
  const int n = std::snprintf(header, sizeof header, k404HeaderFmt, k404PageLen);
  if (n > 0 && n < static_cast<int>(sizeof header)) (void)SendAll(s, header, n);
  (void)SendAll(s, k404Page, k404PageLen);
}
