// Hexadecimal digits: the one digit table of the program.
#pragma once

#include <cstdint>
#include <string>

// Appends the two digits of b, upper case ("0A") unless lower is set ("0a").
inline void AppendHexByte(std::string& out, uint8_t b, bool lower = false) {
  const char* digits = lower ? "0123456789abcdef" : "0123456789ABCDEF";
  out.push_back(digits[b >> 4]);
  out.push_back(digits[b & 0x0F]);
}

// Value of an ASCII hex digit (either case), -1 for anything else.
inline int HexDigitValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
