#include "text/utf8.h"

size_t Utf8SequenceLength(const std::string& s, size_t i) {
  if (i >= s.size()) return 0;
  const auto at = [&](size_t k) { return k < s.size() ? static_cast<unsigned char>(s[k]) : 0u; };
  const auto cont = [&](size_t k) { return (at(k) & 0xC0u) == 0x80u; };
  const unsigned c = at(i);
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) return cont(i + 1) ? 2 : 0;
  if (c >= 0xE0 && c <= 0xEF) {
    // E0 excludes overlong forms, ED the UTF-16 surrogates.
    const unsigned lo = c == 0xE0 ? 0xA0 : 0x80;
    const unsigned hi = c == 0xED ? 0x9F : 0xBF;
    return at(i + 1) >= lo && at(i + 1) <= hi && cont(i + 2) ? 3 : 0;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    // F0 excludes overlong forms, F4 code points above U+10FFFF.
    const unsigned lo = c == 0xF0 ? 0x90 : 0x80;
    const unsigned hi = c == 0xF4 ? 0x8F : 0xBF;
    return at(i + 1) >= lo && at(i + 1) <= hi && cont(i + 2) && cont(i + 3) ? 4 : 0;
  }
  return 0;
}

bool IsValidUtf8(const std::string& bytes) {
  for (size_t i = 0; i < bytes.size();) {
    const size_t len = Utf8SequenceLength(bytes, i);
    if (len == 0) return false;
    i += len;
  }
  return true;
}
