#include "platform/text.h"

#include <cstdint>

// wchar_t holds UTF-32 here. Both directions stop at the first NUL, like the
// Windows conversion of a NUL-terminated string, and replace what cannot be
// converted with U+FFFD.

namespace {
constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t c) {
  if (c >= 0xD800 && c <= 0xDFFF) c = kReplacement;
  if (c > 0x10FFFF) c = kReplacement;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}
}  // namespace

std::string WstrToUtf8(const std::wstring& w) {
  std::string out;
  for (wchar_t wc : w) {
    if (wc == 0) break;
    AppendUtf8(out, static_cast<char32_t>(static_cast<uint32_t>(wc)));
  }
  return out;
}

std::wstring Utf8ToWstr(const std::string& s) {
  std::wstring out;
  const auto* p = reinterpret_cast<const unsigned char*>(s.c_str());
  const size_t n = s.size();
  size_t i = 0;
  while (i < n && p[i] != 0) {
    const unsigned char b = p[i];
    if (b < 0x80) {
      out += static_cast<wchar_t>(b);
      ++i;
      continue;
    }
    int len;
    char32_t c;
    char32_t min;
    if (b >= 0xC2 && b <= 0xDF) {
      len = 2, c = b & 0x1F, min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
      len = 3, c = b & 0x0F, min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
      len = 4, c = b & 0x07, min = 0x10000;
    } else {
      out += static_cast<wchar_t>(kReplacement);
      ++i;
      continue;
    }
    int k = 1;
    for (; k < len && i + k < n; ++k) {
      const unsigned char t = p[i + k];
      if ((t & 0xC0) != 0x80) break;
      c = (c << 6) | (t & 0x3F);
    }
    if (k < len || c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      out += static_cast<wchar_t>(kReplacement);
      i += static_cast<size_t>(k == len ? len : (k > 1 ? k : 1));
      continue;
    }
    out += static_cast<wchar_t>(c);
    i += static_cast<size_t>(len);
  }
  return out;
}
