#include "text/http_text.h"

#include <cstdio>
#include <cstring>

#include "platform/hex.h"

namespace {

constexpr size_t kMinSegment = 3;
constexpr size_t kMaxSegment = 32;

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
