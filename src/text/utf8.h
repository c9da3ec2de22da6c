// UTF-8 as the system reads names and arguments from outside: strictly, with
// no overlong forms, UTF-16 surrogates or code points above U+10FFFF.
#pragma once

#include <cstddef>
#include <string>

// Length (1 to 4) of the valid UTF-8 sequence that starts at s[i]; 0 when
// none does (also at or past the end).
size_t Utf8SequenceLength(const std::string& s, size_t i);

// The bytes are valid UTF-8 throughout.
bool IsValidUtf8(const std::string& bytes);
