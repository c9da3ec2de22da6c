#include "ui_logic.h"

#include <gtest/gtest.h>
#include <qrcodegen/qrcodegen.hpp>

#include <string>
#include <vector>

namespace {

TEST(FormatSizeW, UnitBoundaries) {
  const std::pair<uint64_t, const wchar_t*> cases[] = {
      {0, L"0 B"},          {1023, L"1023 B"},           {1024, L"1.0 KB"},
      {1536, L"1.5 KB"},    {1048575, L"1024.0 KB"},     {1048576, L"1.0 MB"},
      {1073741823, L"1024.0 MB"}, {1073741824, L"1.00 GB"}, {18446744073709551615ULL, L"17179869184.00 GB"},
  };
  for (const auto& [size, text] : cases) EXPECT_EQ(FormatSizeW(size), text) << size;
}

// A picker's result: one path, or a folder and names, NUL-separated, within
// the buffer even without the closing NULs.
TEST(SplitPickerResult, SingleMultipleAndUnterminated) {
  using V = std::vector<std::wstring>;
  const std::pair<std::wstring, V> cases[] = {
      {std::wstring(L"C:\\docs\\a.txt\0\0", 15), {L"C:\\docs\\a.txt"}},
      {std::wstring(L"C:\\docs\0a.txt\0b.txt\0\0", 21), {L"C:\\docs\\a.txt", L"C:\\docs\\b.txt"}},
      {std::wstring(L"C:\\\0a.txt\0\0", 11), {L"C:\\a.txt"}},  // a drive root: no doubled backslash
      {std::wstring(L"\0\0", 2), {}},
      {L"C:\\x", {L"C:\\x"}},
      {std::wstring(L"D\0a\0b", 5), {L"D\\a", L"D\\b"}},
  };
  for (const auto& [raw, want] : cases) EXPECT_EQ(SplitPickerResult(raw.data(), raw.size()), want);
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
