#include <gtest/gtest.h>

#include "platform/text.h"

namespace {

struct Utf8Case {
  const char* label;
  std::wstring wide;
  std::string utf8;
};

TEST(TextConversion, RoundTripsBothWays) {
  const Utf8Case cases[] = {
      {"empty", L"", ""},
      {"ascii", L"report.pdf", "report.pdf"},
      {"latin", L"caf\u00e9", "caf\xc3\xa9"},
      {"euro", L"\u20ac", "\xe2\x82\xac"},
      {"astral", L"\U0001F338", "\xf0\x9f\x8c\xb8"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WstrToUtf8(c.wide), c.utf8) << c.label;
    EXPECT_EQ(Utf8ToWstr(c.utf8), c.wide) << c.label;
  }
}

TEST(TextConversion, StopsAtFirstNul) {
  std::wstring w = L"ab";
  w.push_back(L'\0');
  w += L"cd";
  EXPECT_EQ(WstrToUtf8(w), "ab");
  EXPECT_EQ(Utf8ToWstr(std::string("ab\0cd", 5)), L"ab");
}

TEST(TextConversion, MalformedUtf8BecomesReplacementCharacters) {
  const std::wstring out = Utf8ToWstr("a\xff" "b");
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0], L'a');
  EXPECT_EQ(out[1], static_cast<wchar_t>(0xFFFD));
  EXPECT_EQ(out[2], L'b');
  // A truncated sequence at the end is replaced, not dropped.
  EXPECT_EQ(Utf8ToWstr("x\xe2\x82"), std::wstring(L"x") + static_cast<wchar_t>(0xFFFD));
}

}  // namespace
