#include "ui_logic.h"

#include <qrcodegen/qrcodegen.hpp>

#include "platform/text.h"
#include "text/http_text.h"

std::wstring FormatSizeW(uint64_t size) {
  return Utf8ToWstr(FmtSizeUtf8(size));
}

std::vector<std::wstring> SplitPickerResult(const wchar_t* buf, size_t cap) {
  std::vector<std::wstring> out;
  if (!buf || cap == 0) return out;
  // One NUL-terminated string starting at `pos`, never reading past cap.
  auto next = [&](size_t pos, size_t& after) {
    size_t end = pos;
    while (end < cap && buf[end] != L'\0') ++end;
    after = end + 1;
    return std::wstring(buf + pos, end - pos);
  };
  size_t pos = 0;
  std::wstring first = next(0, pos);
  if (pos >= cap || buf[pos] == L'\0') {
    if (!first.empty()) out.push_back(first);
    return out;
  }
  std::wstring folder = first;
  if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
  while (pos < cap && buf[pos] != L'\0') {
    std::wstring name = next(pos, pos);
    out.push_back(folder + name);
  }
  return out;
}

std::wstring PathFromForwardRecord(unsigned long long tag, const void* data, unsigned long cbData) {
  if (tag != 0x564F524EULL || !data || cbData < 2) return std::wstring();
  const wchar_t* p = static_cast<const wchar_t*>(data);
  const size_t maxUnits = cbData / 2;
  size_t n = 0;
  while (n < maxUnits && p[n] != L'\0') ++n;
  return std::wstring(p, n);
}

std::wstring VerbCommandValue(const std::wstring& exePath) {
  return L"\"" + exePath + L"\" \"%1\"";
}

QrLayout ComputeQrLayout(int side, int modules) {
  QrLayout l;
  l.total = modules + 8;
  l.scale = l.total > 0 ? side / l.total : 1;
  if (l.scale < 1) l.scale = 1;
  l.drawn = l.total * l.scale;
  l.offset = (side - l.drawn) / 2;  // C++ division rounds toward zero
  return l;
}

void RenderQrPixels(const qrcodegen::QrCode& qr, int side, int stride, uint8_t* bits) {
  const int n = qr.getSize();
  const QrLayout l = ComputeQrLayout(side, n);
  for (int py = 0; py < side; ++py) {
    uint8_t* row = bits + static_cast<size_t>(py) * static_cast<size_t>(stride);
    const int v = py - l.offset;
    const bool rowIn = v >= 0 && v < l.drawn;
    const int w = rowIn ? v / l.scale - 4 : -1;
    for (int px = 0; px < side; ++px) {
      const int u = px - l.offset;
      bool dark = false;
      if (rowIn && u >= 0 && u < l.drawn) {
        const int c = u / l.scale - 4;
        dark = c >= 0 && c < n && w >= 0 && w < n && qr.getModule(c, w);
      }
      uint8_t* p = row + px * 3;
      if (dark) {
        p[0] = 35; p[1] = 15; p[2] = 45;     // RGB(45,15,35) as blue, green, red
      } else {
        p[0] = 245; p[1] = 240; p[2] = 255;  // RGB(255,240,245)
      }
    }
  }
}
