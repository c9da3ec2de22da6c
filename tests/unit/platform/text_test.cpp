#include <gtest/gtest.h>

#include "platform/text.h"

namespace {

TEST(TextConversion, RoundTripsStopsAtNulAndReplacesMalformedBytes) {
  const struct { std::wstring wide; std::string utf8; } cases[] = {
      {L"", ""}, {L"caf\u00e9", "caf\xc3\xa9"}, {L"\u20ac", "\xe2\x82\xac"}, {L"\U0001F338", "\xf0\x9f\x8c\xb8"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WstrToUtf8(c.wide), c.utf8);
    EXPECT_EQ(Utf8ToWstr(c.utf8), c.wide);
  }
  EXPECT_EQ(WstrToUtf8(std::wstring(L"ab\0cd", 5)), "ab");
  EXPECT_EQ(Utf8ToWstr(std::string("ab\0cd", 5)), L"ab");
  const std::wstring bad = std::wstring(1, static_cast<wchar_t>(0xFFFD));
  EXPECT_EQ(Utf8ToWstr("a\xff" "b"), L"a" + bad + L"b");
  EXPECT_EQ(Utf8ToWstr("x\xe2\x82"), L"x" + bad);  // a cut sequence is replaced, not dropped
}

}  // namespace
