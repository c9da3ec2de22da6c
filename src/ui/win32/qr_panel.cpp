// The QR panel (control 108): the latest link as a QR symbol rendered once
// into a bitmap, cherry-blossom branches in the margins, and a small tree
// while there is no link. The blossom drawings are shared with the header
// band and the drop zone.
#include <windows.h>

#include <qrcodegen/qrcodegen.hpp>

#include <cmath>
#include <numbers>

#include "control_ids.h"
#include "ui.h"
#include "ui_logic.h"
#include "win_guards.h"

namespace {

constexpr COLORREF kCaption = RGB(120, 90, 100);
constexpr int kMinQrSide = 33;  // a side of 32 pixels or less gets no symbol

HBITMAP PanelBitmap(HWND panel) {
  return reinterpret_cast<HBITMAP>(GetWindowLongPtrW(panel, GWLP_USERDATA));
}

// Encodes url and renders it into a new side x side top-down DIB section.
// Null when the link does not fit any QR version or the bitmap fails.
HBITMAP RenderQrBitmap(const std::string& url, int side) {
  try {
    const qrcodegen::QrCode qr =
        qrcodegen::QrCode::encodeText(url.c_str(), qrcodegen::QrCode::Ecc::MEDIUM);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = side;
    bi.bmiHeader.biHeight = -side;  // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    ScopedGdi<HBITMAP> bmp(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bmp.valid() || !bits) return nullptr;
    const int stride = ((side * 3) + 3) & ~3;
    RenderQrPixels(qr, side, stride, static_cast<uint8_t*>(bits));
    GdiFlush();
    return bmp.release();
  } catch (...) {
    return nullptr;  // overlong link, or out of memory while encoding
  }
}

void PaintQrSymbol(HDC dc, const RECT& rc, HBITMAP bmp) {
  const int W = rc.right - rc.left;
  const int H = rc.bottom - rc.top;
  const int side = W < H ? W : H;
  const int x0 = rc.left + (W - side) / 2;
  const int y0 = rc.top + (H - side) / 2;
  const int xR = x0 + side;
  const int L = rc.left, R = rc.right, B = rc.bottom;

  {
    ScopedMemDC mem(CreateCompatibleDC(dc));
    BITMAP info{};
    if (mem.get() && GetObjectW(bmp, sizeof(info), &info)) {
      SelectGuard sel(mem.get(), bmp);
      SetStretchBltMode(dc, HALFTONE);
      SetBrushOrgEx(dc, 0, 0, nullptr);
      StretchBlt(dc, x0, y0, side, side, mem.get(), 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
    }
  }

  const int gapL = x0 - L;
  const int gapR = R - xR;
  if (gapL > Px(24)) {
    DrawBranch(dc, POINT{L + Px(6), B - Px(4)}, POINT{L + gapL / 2, B - Px(30)},
               POINT{x0 - gapL / 3, y0 + side / 2}, POINT{x0 - Px(6), y0 + side / 4}, Px(3));
    DrawBlossom(dc, L + Px(8), B - Px(14), Px(7), kBlossomPink);
    DrawBlossom(dc, L + gapL / 2 - Px(4), B - Px(32), Px(8), kBlossomPink);
    DrawBlossom(dc, L + 2 * gapL / 3, y0 + 2 * side / 3, Px(6), kBlossomPink);
    DrawBlossom(dc, x0 - Px(12), y0 + side / 4 + Px(4), Px(7), kBlossomDeep);
    DrawPetal(dc, L + gapL / 3, y0 + side / 3, Px(3));
    DrawPetal(dc, L + gapL / 4, y0 + side - Px(18), Px(3));
  }
  if (gapR > Px(24)) {
    DrawBranch(dc, POINT{R - Px(6), B - Px(4)}, POINT{xR + gapR / 2, B - Px(30)},
               POINT{xR + gapR / 3, y0 + side / 2}, POINT{xR + Px(6), y0 + side / 4}, Px(3));
    DrawBlossom(dc, R - Px(8), B - Px(14), Px(7), kBlossomPink);
    DrawBlossom(dc, xR + gapR / 2 + Px(4), B - Px(32), Px(8), kBlossomPink);
    DrawBlossom(dc, xR + gapR / 3, y0 + 2 * side / 3, Px(6), kBlossomPink);
    DrawBlossom(dc, xR + Px(12), y0 + side / 4 + Px(4), Px(7), kBlossomDeep);
    DrawPetal(dc, xR + 2 * gapR / 3, y0 + side / 3, Px(3));
    DrawPetal(dc, xR + 3 * gapR / 4, y0 + side - Px(18), Px(3));
  }
}

void Line(HDC dc, int x0, int y0, int x1, int y1) {
  MoveToEx(dc, x0, y0, nullptr);
  LineTo(dc, x1, y1);
}

void PaintEmptyTree(HDC dc, const RECT& rc) {
  const int L = rc.left, T = rc.top, R = rc.right, B = rc.bottom;
  const int cx = (L + R) / 2;
  const int top = T + Px(18);
  const int base = B - Px(30);
  const int h = base - top;

  {
    ScopedGdi<HPEN> trunk(CreatePen(PS_SOLID, Px(6), kBranch));
    SelectGuard sel(dc, trunk.get());
    Line(dc, cx, base, cx, top + h / 3);
  }
  {
    ScopedGdi<HPEN> bough(CreatePen(PS_SOLID, Px(3), kBranch));
    SelectGuard sel(dc, bough.get());
    Line(dc, cx, top + 2 * h / 3, cx - Px(38), T + Px(40));
    Line(dc, cx, top + h / 2, cx - Px(58), T + Px(30));
    Line(dc, cx, top + 2 * h / 3, cx + Px(38), T + Px(40));
    Line(dc, cx, top + h / 2, cx + Px(58), T + Px(30));
    Line(dc, cx, top + h / 3, cx, T + Px(24));
  }
  {
    ScopedGdi<HBRUSH> pink(CreateSolidBrush(kBlossomPink));
    SelectGuard selBrush(dc, pink.get());
    SelectGuard selPen(dc, GetStockObject(NULL_PEN));
    struct Disc { int x, y, r; };
    const Disc crown[] = {{0, 32, 24},   {-28, 40, 20}, {28, 40, 20}, {-52, 48, 16},
                          {52, 48, 16},  {-12, 50, 18}, {12, 50, 18}};
    for (const Disc& d : crown) {
      const int x = cx + Px(d.x), y = T + Px(d.y), r = Px(d.r);
      Ellipse(dc, x - r, y - r, x + r, y + r);
    }
  }
  DrawBlossom(dc, cx, T + Px(30), Px(6), kBlossomDeep);
  DrawBlossom(dc, cx - Px(30), T + Px(40), Px(5), kBlossomPink);
  DrawBlossom(dc, cx + Px(30), T + Px(40), Px(5), kBlossomPink);
  DrawBlossom(dc, cx - Px(50), T + Px(50), Px(4), kBlossomPink);
  DrawBlossom(dc, cx + Px(50), T + Px(50), Px(4), kBlossomPink);
  DrawBlossom(dc, cx + Px(8), T + Px(56), Px(5), kBlossomPink);
  DrawBlossom(dc, cx - Px(8), T + Px(56), Px(5), kBlossomPink);
  DrawPetal(dc, cx - Px(64), B - Px(48), Px(3));
  DrawPetal(dc, cx + Px(70), B - Px(66), Px(3));
  DrawPetal(dc, cx - Px(34), B - Px(38), Px(2));
  DrawPetal(dc, cx + Px(40), B - Px(34), Px(2));

  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, kCaption);
  SelectGuard selFont(dc, g_hFont.get());
  RECT cap{L, B - Px(24), R, B};
  DrawTextW(dc, L"QR will bloom here", -1, &cap, DT_CENTER | DT_SINGLELINE);
}

LRESULT OnPaint(HWND hwnd) {
  PaintScope paint(hwnd);
  HDC dc = paint.dc();
  if (!dc) return 0;
  RECT rc{};
  GetClientRect(hwnd, &rc);
  FillSolid(dc, rc, kSakura);
  if (HBITMAP bmp = PanelBitmap(hwnd)) {
    PaintQrSymbol(dc, rc, bmp);
  } else {
    PaintEmptyTree(dc, rc);
  }
  return 0;
}

LRESULT OnDestroy(HWND hwnd) {
  if (HBITMAP bmp = PanelBitmap(hwnd)) DeleteObject(bmp);
  SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
  return 0;
}

}  // namespace

void UpdateQRForUrl(HWND mainWindow, const std::string& url) {
  HWND panel = GetDlgItem(mainWindow, IDC_QR);
  if (!panel) return;
  HBITMAP old = PanelBitmap(panel);
  HBITMAP fresh = nullptr;
  if (!url.empty()) {
    RECT rc{};
    GetClientRect(panel, &rc);
    const int w = rc.right - rc.left;
    const int h = rc.bottom - rc.top;
    const int side = w < h ? w : h;
    if (side >= kMinQrSide) fresh = RenderQrBitmap(url, side);
  }
  SetWindowLongPtrW(panel, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(fresh));
  if (old) DeleteObject(old);
  InvalidateRect(panel, nullptr, TRUE);
}

LRESULT CALLBACK QRProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_PAINT: return OnPaint(hwnd);
    case WM_DESTROY: return OnDestroy(hwnd);
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

void DrawBlossom(HDC dc, int x, int y, int r, COLORREF colour) {
  ScopedGdi<HBRUSH> petal(CreateSolidBrush(colour));
  ScopedGdi<HBRUSH> centre(CreateSolidBrush(kBlossomCentre));
  SelectGuard selPen(dc, GetStockObject(NULL_PEN));
  {
    SelectGuard selBrush(dc, petal.get());
    const double d = r * 1.05;
    for (int k = 0; k < 5; ++k) {
      const double a = k * 2.0 * std::numbers::pi / 5.0 - std::numbers::pi / 2.0;
      const int px = x + static_cast<int>(std::cos(a) * d);
      const int py = y + static_cast<int>(std::sin(a) * d);
      Ellipse(dc, px - r, py - r, px + r, py + r);
    }
  }
  SelectGuard selCentre(dc, centre.get());
  const int c = r > 3 ? r / 2 : 1;
  Ellipse(dc, x - c, y - c, x + c, y + c);
}

void DrawPetal(HDC dc, int x, int y, int r) {
  ScopedGdi<HBRUSH> pink(CreateSolidBrush(kBlossomPink));
  SelectGuard selBrush(dc, pink.get());
  SelectGuard selPen(dc, GetStockObject(NULL_PEN));
  Ellipse(dc, x - r, y - r + r / 3, x + r, y + r);
}

void DrawBranch(HDC dc, POINT p0, POINT p1, POINT p2, POINT p3, int width) {
  ScopedGdi<HPEN> pen(CreatePen(PS_SOLID, width, kBranch));
  SelectGuard sel(dc, pen.get());
  const POINT pts[4] = {p0, p1, p2, p3};
  PolyBezier(dc, pts, 4);
}
