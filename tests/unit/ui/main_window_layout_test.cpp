// The main window laid out at several DPIs: g_dpi stands for the system DPI
// read at start-up, and the message font is the 96-DPI one scaled to it.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "control_ids.h"
#include "ui.h"

namespace {

struct Child {
  HWND hwnd;
  std::wstring cls, text;
  RECT rc;  // in the main window's client coordinates
};

// Width and height of one line of text in the window's own font.
SIZE Measure(HWND ctl, HFONT font, const std::wstring& text) {
  HDC dc = GetDC(ctl);
  HGDIOBJ old = SelectObject(dc, font);
  RECT r{};
  DrawTextW(dc, text.c_str(), -1, &r, DT_CALCRECT | DT_SINGLELINE);
  SelectObject(dc, old);
  ReleaseDC(ctl, dc);
  return SIZE{r.right - r.left, r.bottom - r.top};
}

int Scaled(int v, int dpi) { return MulDiv(v, dpi, 96); }

// Room for text inside a control: borders, a check box or a drop-down arrow.
int TextRoom(const Child& c, int dpi) {
  const int w = c.rc.right - c.rc.left;
  const LONG style = GetWindowLongW(c.hwnd, GWL_STYLE), kind = style & BS_TYPEMASK;
  if (c.cls == L"Button") return w - (kind == BS_AUTOCHECKBOX || kind == BS_AUTORADIOBUTTON ? Scaled(17, dpi) : 2 * Scaled(4, dpi));
  if (c.cls == L"ComboBox") return w - Scaled(17 + 2 * 3, dpi);
  return style & SS_SUNKEN ? w - 2 : w;
}

TEST(MainWindowLayout, TextsFitAndNothingOverlapsAtEveryDpi) {
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);
  const std::pair<const wchar_t*, WNDPROC> classes[] = {{kMainClass, MainProc}, {kDropZoneClass, DropZoneProc}, {kQRClass, QRProc}};
  for (const auto& [name, proc] : classes) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = proc, wc.hInstance = GetModuleHandleW(nullptr), wc.lpszClassName = name;
    RegisterClassW(&wc);
  }
  // Wine's stand-in font draws "Custom branding..." wider than its button at 96 DPI: at other DPIs it
  // may overflow by no more than that, scaled.
  int overflowAt96 = 0;
  std::vector<Child> at96;
  std::vector<LONG> fontAt96(26);
  g_systemDpi = ReadSystemDpi();
  ASSERT_EQ(g_systemDpi, 96) << "the message font is taken to be sized for 96 DPI";
  for (const int dpi : {96, 120, 144, 192}) {
    SCOPED_TRACE(dpi);
    g_dpi = dpi;
    HWND main = CreateWindowExW(0, kMainClass, kMainTitle, WS_CAPTION | WS_SYSMENU, 0, 0, Px(kMainWidth),
                                Px(kMainHeight), nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_TRUE(main) << GetLastError();
    std::vector<Child> children;
    for (HWND c = GetWindow(main, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
      wchar_t cls[64] = {}, text[256] = {};
      RECT rc{};
      GetClassNameW(c, cls, 64), GetWindowTextW(c, text, 256), GetWindowRect(c, &rc);
      MapWindowPoints(nullptr, main, reinterpret_cast<POINT*>(&rc), 2);
      children.push_back(Child{c, cls, text, rc});
    }
    ASSERT_EQ(children.size(), 26u);
    if (dpi == 96) at96 = children;
    for (size_t i = 0; i < children.size(); ++i) {
      const Child& c = children[i];
      SCOPED_TRACE(testing::Message() << "control " << i << " at " << c.rc.left << "," << c.rc.top);
      // Positions and the dialog font scale with the DPI (a closed drop-down's height follows its font).
      EXPECT_NEAR(c.rc.left, Scaled(at96[i].rc.left, dpi), 1);
      EXPECT_NEAR(c.rc.top, Scaled(at96[i].rc.top, dpi), 1);
      EXPECT_NEAR(c.rc.right, Scaled(at96[i].rc.right, dpi), 1);
      for (size_t j = i + 1; j < children.size(); ++j) {
        RECT both{};
        EXPECT_FALSE(IntersectRect(&both, &c.rc, &children[j].rc)) << "overlaps control " << j;
      }
      if (c.cls == kDropZoneClass || c.cls == kQRClass || c.text.empty()) continue;
      const HFONT font = reinterpret_cast<HFONT>(SendMessageW(c.hwnd, WM_GETFONT, 0, 0));
      LOGFONTW lf{};
      ASSERT_TRUE(font && GetObjectW(font, sizeof lf, &lf));
      if (dpi == 96) fontAt96[i] = std::abs(lf.lfHeight);
      EXPECT_NEAR(std::abs(lf.lfHeight), Scaled(fontAt96[i], dpi), 1);
      const SIZE text = Measure(c.hwnd, font, c.text);
      const int overflow = text.cx - TextRoom(c, dpi);
      if (GetDlgCtrlID(c.hwnd) == IDC_BRANDING && dpi == 96) overflowAt96 = overflow;
      EXPECT_LE(overflow, GetDlgCtrlID(c.hwnd) == IDC_BRANDING ? std::max(0, Scaled(overflowAt96, dpi)) : 0)
          << "text wider than its control";
      EXPECT_LE(text.cy, c.rc.bottom - c.rc.top) << "text taller than its control";
    }
    // The list's column titles fit their columns.
    HWND list = GetDlgItem(main, IDC_LIST), header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    const HFONT listFont = reinterpret_cast<HFONT>(SendMessageW(header, WM_GETFONT, 0, 0));
    EXPECT_EQ(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0), 7);
    for (int col = 0; col < 7; ++col) {
      wchar_t title[64] = {};
      LVCOLUMNW lc{LVCF_TEXT | LVCF_WIDTH};
      lc.pszText = title, lc.cchTextMax = 64;
      ASSERT_TRUE(SendMessageW(list, LVM_GETCOLUMNW, col, reinterpret_cast<LPARAM>(&lc)));
      EXPECT_LE(Measure(header, listFont, title).cx, lc.cx - 2 * Scaled(6, dpi)) << "column " << col;
    }
    DestroyWindow(main);
    for (MSG msg; PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);) {
    }
  }
  g_dpi = 96;
}

}  // namespace
