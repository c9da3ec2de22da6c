#include "ui_logic.h"

#include <gtest/gtest.h>
#include <qrcodegen/qrcodegen.hpp>

#include <string>
#include <vector>

namespace {

TEST(FormatSizeW, UnitBoundaries) {
  const struct {
    uint64_t size;
    const wchar_t* text;
  } cases[] = {
      {0, L"0 B"},
      {1023, L"1023 B"},
      {1024, L"1.0 KB"},
      {1536, L"1.5 KB"},
      {1048575, L"1024.0 KB"},
      {1048576, L"1.0 MB"},
      {1073741823, L"1024.0 MB"},
      {1073741824, L"1.00 GB"},
      {5368709120ULL, L"5.00 GB"},
      {18446744073709551615ULL, L"17179869184.00 GB"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatSizeW(c.size), c.text) << c.size;
}

TEST(TrimSpacesTabs, OnlySpacesAndTabsAtTheEnds) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"", ""},
      {"   ", ""},
      {"\t \t", ""},
      {"  my-link\t", "my-link"},
      {"a b", "a b"},
      {"  a b  ", "a b"},
      {"\nx\n", "\nx\n"},  // newlines are not trimmed
      {"\xc3\xa9t\xc3\xa9 ", "\xc3\xa9t\xc3\xa9"},
  };
  for (const auto& c : cases) EXPECT_EQ(TrimSpacesTabs(c.in), c.out) << c.in;
}

std::vector<std::wstring> Split(const std::wstring& raw) {
  std::vector<wchar_t> buf(raw.begin(), raw.end());
  buf.resize(buf.size() + 2, L'\0');
  return SplitPickerResult(buf.data(), buf.size());
}

TEST(SplitPickerResult, SingleAndMultipleSelections) {
  using V = std::vector<std::wstring>;
  EXPECT_EQ(Split(std::wstring(L"C:\\docs\\a.txt")), V({L"C:\\docs\\a.txt"}));
  EXPECT_EQ(Split(std::wstring(L"C:\\docs\0a.txt\0b.txt\0c.txt", 25)),
            V({L"C:\\docs\\a.txt", L"C:\\docs\\b.txt", L"C:\\docs\\c.txt"}));
  // Files in a drive root: no doubled backslash.
  EXPECT_EQ(Split(std::wstring(L"C:\\\0a.txt\0b.txt", 15)), V({L"C:\\a.txt", L"C:\\b.txt"}));
  EXPECT_EQ(Split(std::wstring()), V());
}

TEST(SplitPickerResult, NeverReadsPastTheBuffer) {
  // A full buffer without the closing NULs.
  const wchar_t full[] = {L'C', L':', L'\\', L'x'};
  EXPECT_EQ(SplitPickerResult(full, 4), std::vector<std::wstring>({L"C:\\x"}));
  const wchar_t multi[] = {L'D', L'\0', L'a', L'\0', L'b'};
  EXPECT_EQ(SplitPickerResult(multi, 5), std::vector<std::wstring>({L"D\\a", L"D\\b"}));
  EXPECT_TRUE(SplitPickerResult(nullptr, 10).empty());
}

TEST(PathFromForwardRecord, TagSizeAndTerminator) {
  const wchar_t path[] = L"C:\\x\\file.bin";  // 13 units + NUL
  const unsigned long full = sizeof(path);
  const struct {
    unsigned long long tag;
    const void* data;
    unsigned long cb;
    std::wstring expect;
  } cases[] = {
      {0x564F524EULL, path, full, L"C:\\x\\file.bin"},
      {0x564F524EULL, path, 8, L"C:\\x"},          // at most cbData / 2 units
      {0x564F524EULL, path, 9, L"C:\\x"},          // odd byte count rounds down
      {0x0000000100000000ULL | 0x564F524EULL, path, full, L""},  // all bits compared
      {0x564F524FULL, path, full, L""},
      {0x564F524EULL, nullptr, full, L""},
      {0x564F524EULL, path, 1, L""},
      {0x564F524EULL, L"\0abc", 8, L""},           // empty path
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PathFromForwardRecord(c.tag, c.data, c.cb), c.expect) << c.cb;
  }
}

TEST(VerbCommandValue, QuotesProgramAndArgument) {
  EXPECT_EQ(VerbCommandValue(L"C:\\Program Files\\Vorn Hale\\vornhale.exe"),
            L"\"C:\\Program Files\\Vorn Hale\\vornhale.exe\" \"%1\"");
}

TEST(ComputeQrLayout, ScaleDrawnAndOffset) {
  const struct {
    int side, modules, scale, drawn, offset;
  } cases[] = {
      {180, 29, 4, 148, 16},   // total 37
      {180, 33, 4, 164, 8},    // total 41
      {180, 38, 3, 138, 21},   // total 46
      {180, 52, 3, 180, 0},    // total 60
      {180, 53, 2, 122, 29},   // total 61
      {180, 177, 1, 185, -2},  // total 185: cut equally, offset toward zero
      {33, 21, 1, 29, 2},
  };
  for (const auto& c : cases) {
    const QrLayout l = ComputeQrLayout(c.side, c.modules);
    EXPECT_EQ(l.scale, c.scale) << c.modules;
    EXPECT_EQ(l.drawn, c.drawn) << c.modules;
    EXPECT_EQ(l.offset, c.offset) << c.modules;
  }
}

bool Dark(const std::vector<uint8_t>& bits, int stride, int x, int y) {
  const uint8_t* p = &bits[static_cast<size_t>(y) * stride + x * 3];
  if (p[0] == 35 && p[1] == 15 && p[2] == 45) return true;
  EXPECT_TRUE(p[0] == 245 && p[1] == 240 && p[2] == 255) << x << "," << y;
  return false;
}

TEST(RenderQrPixels, EveryModuleLandsOnItsSquare) {
  const auto qr = qrcodegen::QrCode::encodeText("http://192.168.1.20:31337/AbCdEf012345",
                                                qrcodegen::QrCode::Ecc::MEDIUM);
  const int side = 180;
  const int stride = (side * 3 + 3) & ~3;
  std::vector<uint8_t> bits(static_cast<size_t>(stride) * side, 0xAA);
  RenderQrPixels(qr, side, stride, bits.data());
  const QrLayout l = ComputeQrLayout(side, qr.getSize());
  ASSERT_EQ(l.scale, 4);
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      const int u = x - l.offset, v = y - l.offset;
      const int c = u / l.scale - 4, w = v / l.scale - 4;
      const bool inSymbol = u >= 0 && v >= 0 && u < l.drawn && v < l.drawn && c >= 0 &&
                            w >= 0 && c < qr.getSize() && w < qr.getSize();
      ASSERT_EQ(Dark(bits, stride, x, y), inSymbol && qr.getModule(c, w)) << x << "," << y;
    }
  }
  // The top-left finder starts right after the 4-module quiet zone.
  EXPECT_TRUE(Dark(bits, stride, l.offset + 16, l.offset + 16));
  EXPECT_FALSE(Dark(bits, stride, l.offset + 15, l.offset + 16));
}

}  // namespace
