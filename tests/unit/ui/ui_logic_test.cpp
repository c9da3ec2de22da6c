// The desktop shell's pure helpers (the QR's pixels are read back by the GUI scenarios).
#include "ui_logic.h"

#include <gtest/gtest.h>

namespace {
// A picker's result: one path, or a folder and names, NUL-separated, within the buffer even unterminated.
TEST(SplitPickerResult, SingleMultipleAndUnterminated) {
  using V = std::vector<std::wstring>;
  const std::pair<std::wstring, V> cases[] = {
      {std::wstring(L"C:\\docs\\a.txt\0\0", 15), {L"C:\\docs\\a.txt"}},
      {std::wstring(L"C:\\docs\0a.txt\0b.txt\0\0", 21), {L"C:\\docs\\a.txt", L"C:\\docs\\b.txt"}},
      {std::wstring(L"C:\\\0a.txt\0\0", 11), {L"C:\\a.txt"}},  // a drive root: no doubled backslash
      {std::wstring(L"\0\0", 2), {}}, {std::wstring(L"D\0a\0b", 5), {L"D\\a", L"D\\b"}}};
  for (const auto& [raw, want] : cases) EXPECT_EQ(SplitPickerResult(raw.data(), raw.size()), want);
  EXPECT_TRUE(SplitPickerResult(nullptr, 10).empty());
}

TEST(PathFromForwardRecord, TagSizeAndTerminator) {
  const wchar_t path[] = L"C:\\x\\file.bin";  // 13 units + NUL
  const unsigned long long tag = 0x564F524EULL;
  const struct { unsigned long long tag; const void* data; unsigned long cb; std::wstring want; } cases[] = {
      {tag, path, sizeof path, L"C:\\x\\file.bin"}, {tag, path, 9, L"C:\\x"},  // at most cbData / 2 units
      {tag | 0x100000000ULL, path, sizeof path, L""}, {tag, nullptr, sizeof path, L""}, {tag, path, 1, L""},
      {tag, L"\0abc", 8, L""}};
  for (const auto& c : cases) EXPECT_EQ(PathFromForwardRecord(c.tag, c.data, c.cb), c.want) << c.cb;
}

TEST(VerbCommandValue, QuotesProgramAndArgument) {
  EXPECT_EQ(VerbCommandValue(L"C:\\Vorn Hale\\vornhale.exe"), L"\"C:\\Vorn Hale\\vornhale.exe\" \"%1\"");
}

TEST(ComputeQrLayout, ScaleDrawnAndOffset) {
  const int cases[][5] = {  // side, modules, scale, drawn, offset
      {180, 29, 4, 148, 16}, {180, 52, 3, 180, 0}, {180, 53, 2, 122, 29},
      {180, 177, 1, 185, -2}};  // cut equally, offset toward zero
  for (const auto& c : cases) {
    const QrLayout l = ComputeQrLayout(c[0], c[1]);
    EXPECT_EQ((std::vector<int>{l.scale, l.drawn, l.offset}), (std::vector<int>{c[2], c[3], c[4]})) << c[1];
  }
}
}  // namespace
