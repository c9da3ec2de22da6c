// Small, stateless helpers of the HTTP server: decoding and encoding request
// and link text, escaping names for the download page, content types, size
// text. All text is handled byte by byte (no UTF-8 interpretation); case and
// character classes are those of ASCII.
#pragma once

#include <cstdint>
#include <string>

// Percent-decodes ("%XX" with two hex digits, either case) and turns "+" into a
// blank. A "%" without two hex digits after it is kept as it is.
std::string URLDecode(const std::string& in);

// Percent-encodes every byte except A-Z a-z 0-9 - . _ ~ as "%XX" (upper case).
std::string URLEncode(const std::string& in);

// True for 3 to 32 bytes, each an ASCII letter, digit, "-" or "_".
bool IsValidPathSegment(const std::string& s);

// Replaces & < > " ' with their HTML entities.
std::string HtmlEscape(const std::string& in);

// Content type chosen by the last extension of name (ASCII case-insensitive);
// "application/octet-stream" when unknown.
std::string MimeType(const std::string& name);

// "%llu B", "%.1f KB", "%.1f MB" or "%.2f GB" with 1024-based units.
std::string FmtSizeUtf8(uint64_t n);
