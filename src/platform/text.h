// UTF-16 (wide, Windows) / UTF-32 (wide, POSIX) <-> UTF-8. The input is taken
// as NUL-terminated; empty input or a failed size query gives an empty result;
// malformed input is converted with replacement characters, not refused.
#pragma once

#include <string>

std::string WstrToUtf8(const std::wstring& w);
std::wstring Utf8ToWstr(const std::string& s);
