// The shell's pure helpers: text and layout rules with no window behind them,
// kept apart so they can be tested on their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>


namespace qrcodegen {
class QrCode;
}

// "%llu B" below 1024, then "%.1f KB", "%.1f MB", "%.2f GB" (1024-based).
std::wstring FormatSizeW(uint64_t size);


// The buffer of a multi-select open-file dialog: either one full path, or a
// folder followed by file names, each NUL-terminated, ended by an empty one.
// cap is the buffer's size in units; nothing beyond it is read.
std::vector<std::wstring> SplitPickerResult(const wchar_t* buf, size_t cap);

// The path of a forwarded-path record: at most cbData / 2 units, ending at
// the first NUL. Empty for a wrong tag, no data or cbData below 2.
std::wstring PathFromForwardRecord(unsigned long long tag, const void* data, unsigned long cbData);

// The command value of the Explorer verb: "\"" exe "\" \"%1\"".
std::wstring VerbCommandValue(const std::wstring& exePath);

// Placement of a QR symbol of n modules plus a 4-module quiet zone in a
// side x side square: scale = side / total (at least 1), drawn = total x scale,
// offset = (side - drawn) / 2 (negative when the symbol is cut).
struct QrLayout {
  int total = 0;
  int scale = 1;
  int drawn = 0;
  int offset = 0;
};
QrLayout ComputeQrLayout(int side, int modules);

// Renders the symbol into top-down 24-bit BGR rows of `stride` bytes:
// dark modules RGB(45,15,35), everything else RGB(255,240,245).
void RenderQrPixels(const qrcodegen::QrCode& qr, int side, int stride, uint8_t* bits);
