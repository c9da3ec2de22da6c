// The main window: controls, header band, commands, the messages worker
// threads and second instances send, control colours, and closing.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <memory>

#include "control_ids.h"
#include "core/app_messages.h"
#include "core/registry.h"
#include "platform/module.h"
#include "platform/net.h"
#include "platform/process.h"
#include "platform/text.h"
#include "sharing/session.h"
#include "sharing/share.h"
#include "sharing/shell.h"
#include "ui.h"
#include "ui_logic.h"
#include "win_guards.h"

ScopedGdi<HFONT> g_hFont;
ScopedGdi<HFONT> g_hFontTitle;
ScopedGdi<HFONT> g_hFontMono;
ScopedGdi<HBRUSH> g_hBrushSakura;
ScopedGdi<HBRUSH> g_hBrushSakuraMist;
int g_dpi = 96;
int g_systemDpi = 96;

namespace {

// The window's icons from logo.ico; they live as long as the program.
using ScopedIcon = Owned<HICON, static_cast<HICON>(nullptr), DestroyIcon>;
ScopedIcon g_hIconBig;
ScopedIcon g_hIconSmall;

constexpr COLORREF kRule = RGB(232, 184, 200);
constexpr COLORREF kDiscOutline = RGB(108, 8, 32);
constexpr COLORREF kDisc = RGB(242, 174, 189);
constexpr COLORREF kFieldBack = RGB(255, 230, 238);
constexpr int kCustomLinkUnits = 64;
constexpr int kLinkFieldUnits = 2048;

constexpr const wchar_t* kP1 =
    L"Password-protected shares are a Premium feature.\n\nRecipients enter a password (you share it "
    L"out-of-band) to unlock an encrypted zip - ideal for sensitive files, contracts, or anything you "
    L"don't want indexed if the link leaks.\n\nComing soon.";
constexpr const wchar_t* kP2 =
    L"Auto-zip rolls every selected file into a single download bundle, so recipients get one click "
    L"instead of three.\n\nThis is a Premium convenience - coming soon.";
constexpr const wchar_t* kP3 =
    L"Custom auto-expire (1h / 6h / 7d / 30d) is a Premium feature.\n\nFree shares stay live until you "
    L"click Stop or close Vorn-Hale. Premium lets you hand out a link and walk away - it tears itself "
    L"down on the schedule you pick.\n\nComing soon.";
constexpr const wchar_t* kP4 =
    L"Custom branding lets you replace the download page logo, colors, and copy with your own - great "
    L"for client work, agencies, and white-label deployments.\n\nThis is a Premium feature. Coming "
    L"soon.";
constexpr const wchar_t* kP5 =
    L"Offline server mode hosts your share without the Cloudflare tunnel - useful for air-gapped "
    L"networks, on-prem deployments, or any environment where outbound HTTPS to Cloudflare is "
    L"blocked.\n\nThis is a Premium feature. Coming soon.";
constexpr const wchar_t* kP6 =
    L"Pause / Resume keeps a share's link alive while temporarily blocking new downloads - useful "
    L"when you need to swap the underlying file, throttle a recipient, or step away without tearing "
    L"the share down.\n\nPaused links return a friendly \"temporarily unavailable\" page so recipients "
    L"know to try again instead of seeing a dead link.\n\nThis is a Premium feature. Coming soon.";

struct ControlSpec {
  int id;
  const wchar_t* cls;
  const wchar_t* text;
  DWORD style;
  DWORD exStyle;
  int x, y, w, h;
};

// In creation order, which is also the tab order.
constexpr ControlSpec kControls[] = {
    {IDC_DROPZONE, kDropZoneClass, L"Drop up to 3 files or 1 folder here, or press Enter to browse",
     0x50010000, 0, 10, 54, 340, 110},
    {IDC_SELECTION, L"STATIC", L"No file selected.", 0x50000000, 0, 10, 174, 340, 20},
    {IDC_MODE_INTERNET, L"BUTTON", L"&Internet  (public link via Cloudflare)", 0x50030009, 0, 10, 200,
     340, 22},
    {IDC_MODE_LAN, L"BUTTON", L"Same &network  (WiFi / LAN / hotspot)", 0x50010009, 0, 10, 224, 340,
     22},
    {IDC_CUSTOM_LABEL, L"STATIC", L"Custom link (optional):", 0x50000000, 0, 10, 252, 340, 18},
    {IDC_CUSTOM_LINK, L"EDIT", L"", 0x50800080, 0, 10, 272, 340, 22},
    {IDC_START, L"BUTTON", L"&Start Sharing", 0x58010000, 0, 10, 302, 140, 28},
    {IDC_QR, kQRClass, L"Scannable QR code of the share link", 0x50000000, 0, 360, 54, 370, 180},
    {0, L"STATIC", L"Latest link:", 0x50000000, 0, 360, 244, 200, 18},
    {IDC_LINK, L"EDIT", L"", 0x50800880, 0, 360, 266, 295, 26},
    {IDC_COPY, L"BUTTON", L"Co&py", 0x58010000, 0, 660, 266, 70, 26},
    {IDC_PREMIUM_TITLE, L"STATIC", L"Premium options - coming soon", 0x50000001, 0, 10, 342, 720, 20},
    {IDC_PASSWORD_LABEL, L"STATIC", L"Password (encrypted zip):", 0x50000000, 0, 10, 366, 180, 18},
    {IDC_PASSWORD, L"EDIT", L"", 0x508000A0, 0, 10, 386, 220, 22},
    {IDC_AUTOZIP, L"BUTTON", L"Auto-&zip files", 0x50010003, 0, 240, 386, 110, 22},
    {IDC_EXPIRE_LABEL, L"STATIC", L"Auto-expire after:", 0x50000000, 0, 360, 366, 140, 18},
    {IDC_EXPIRE, L"ComboBox", L"", 0x50210003, 0, 360, 386, 120, 200},
    {IDC_OFFLINE, L"BUTTON", L"&Offline server", 0x50010009, 0, 490, 386, 130, 22},
    {IDC_BRANDING, L"BUTTON", L"Custom &branding...", 0x50010000, 0, 625, 386, 105, 22},
    {IDC_HOSTED_TITLE, L"STATIC", L"Currently hosted files", 0x50000001, 0, 10, 422, 720, 20},
    {IDC_LIST, L"SysListView32", L"", 0x5000000D, WS_EX_CLIENTEDGE, 10, 444, 720, 240},
    {IDC_STOP_SELECTED, L"BUTTON", L"Stop Selected", 0x50010000, 0, 10, 694, 110, 26},
    {IDC_COPY_LINK, L"BUTTON", L"Copy Link", 0x50010000, 0, 126, 694, 110, 26},
    {IDC_PAUSE, L"BUTTON", L"&Pause / Resume", 0x50010000, 0, 242, 694, 130, 26},
    {IDC_STOP_ALL, L"BUTTON", L"Stop &All", 0x50010000, 0, 378, 694, 110, 26},
    {IDC_STATUS, L"STATIC", L"Drop up to 3 files or 1 folder above to begin.", 0x50001001, 0, 0, 736,
     750, 22},
};

struct ColumnSpec {
  const wchar_t* title;
  int width;
};
constexpr ColumnSpec kColumns[] = {{L"Name", 180},  {L"Kind", 60},  {L"Size", 70},
                                   {L"Mode", 70},   {L"Status", 70}, {L"Link", 190},
                                   {L"Downloads", 80}};

constexpr const wchar_t* kExpireChoices[] = {L"1 hour", L"6 hours", L"24 hours", L"7 days",
                                             L"30 days"};
constexpr int kExpireDefault = 2;

void PremiumBox(HWND hwnd, const wchar_t* text) {
  MessageBoxW(hwnd, text, kCaptionPremium, MB_OK | MB_ICONINFORMATION);
}

int SelectedRow(HWND hwnd) {
  return static_cast<int>(SendMessageW(GetDlgItem(hwnd, IDC_LIST), LVM_GETNEXTITEM,
                                       static_cast<WPARAM>(-1), LVNI_SELECTED));
}

// The url of item `row`; empty when there is none.
std::string UrlAtRow(int row) {
  return row < 0 ? std::string() : HostedUrlAt(static_cast<size_t>(row));
}

void CopyLinkAndSay(const std::string& url) {
  CopyTextToClipboard(Utf8ToWstr(url));
  SetStatus(L"Link copied to clipboard.");
}

// ---- WM_CREATE ----

void LoadWindowIcons(HWND hwnd) {
  const std::wstring folder = ProgramFolder();
  if (folder.empty()) return;
  const std::wstring file = folder + L"\\logo.ico";
  const wchar_t* path = file.c_str();
  g_hIconBig.reset(static_cast<HICON>(LoadImageW(nullptr, path, IMAGE_ICON, 32, 32, LR_LOADFROMFILE)));
  if (!g_hIconBig.valid()) return;
  SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(g_hIconBig.get()));
  g_hIconSmall.reset(static_cast<HICON>(LoadImageW(nullptr, path, IMAGE_ICON, 16, 16, LR_LOADFROMFILE)));
  if (g_hIconSmall.valid())
    SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(g_hIconSmall.get()));
}

void CreateFontsAndBrushes() {
  g_hBrushSakura.reset(CreateSolidBrush(kSakura));
  g_hBrushSakuraMist.reset(CreateSolidBrush(kSakuraMist));
  NONCLIENTMETRICSW ncm{};
  ncm.cbSize = sizeof(ncm);
  static_assert(sizeof(NONCLIENTMETRICSW) == 504, "NONCLIENTMETRICSW with padded border width");
  if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(ncm), &ncm, 0)) return;
  ncm.lfMessageFont.lfHeight = MulDiv(ncm.lfMessageFont.lfHeight, g_dpi, g_systemDpi);
  g_hFont.reset(CreateFontIndirectW(&ncm.lfMessageFont));
  LOGFONTW title = ncm.lfMessageFont;
  title.lfHeight = -Px(20);
  title.lfWeight = 400;
  g_hFontTitle.reset(CreateFontIndirectW(&title));
  LOGFONTW mono = ncm.lfMessageFont;
  mono.lfHeight = -Px(14);
  mono.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
  lstrcpynW(mono.lfFaceName, L"Consolas", LF_FACESIZE);
  g_hFontMono.reset(CreateFontIndirectW(&mono));
}

void SetUpList(HWND list) {
  SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
  for (int i = 0; i < static_cast<int>(std::size(kColumns)); ++i) {
    LVCOLUMNW col{};
    col.mask = LVCF_TEXT | LVCF_WIDTH;
    col.pszText = const_cast<wchar_t*>(kColumns[i].title);
    col.cx = Px(kColumns[i].width);
    SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&col));
  }
  SendMessageW(list, LVM_SETBKCOLOR, 0, static_cast<LPARAM>(kSakura));
  SendMessageW(list, LVM_SETTEXTBKCOLOR, 0, static_cast<LPARAM>(kSakura));
  SendMessageW(list, LVM_SETTEXTCOLOR, 0, static_cast<LPARAM>(kInk));
}

void SetUpControl(HWND ctl, int id) {
  switch (id) {
    case IDC_DROPZONE: DragAcceptFiles(ctl, TRUE); break;
    case IDC_MODE_INTERNET: SendMessageW(ctl, BM_SETCHECK, BST_CHECKED, 0); break;
    case IDC_CUSTOM_LINK:
      SendMessageW(ctl, EM_LIMITTEXT, 32, 0);
      SendMessageW(ctl, EM_SETCUEBANNER, TRUE,
                   reinterpret_cast<LPARAM>(L"Blank = random private link. Words can be guessed."));
      break;
    case IDC_PASSWORD:
      SendMessageW(ctl, EM_SETCUEBANNER, TRUE,
                   reinterpret_cast<LPARAM>(L"Premium - click to learn more"));
      break;
    case IDC_EXPIRE:
      for (const wchar_t* item : kExpireChoices) {
        SendMessageW(ctl, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
      }
      SendMessageW(ctl, CB_SETCURSEL, kExpireDefault, 0);
      break;
    case IDC_LIST: SetUpList(ctl); break;
  }
}

LRESULT OnCreate(HWND hwnd) {
  g_hMain = hwnd;
  LoadWindowIcons(hwnd);
  CreateFontsAndBrushes();
  HINSTANCE inst = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(hwnd, GWLP_HINSTANCE));
  for (const ControlSpec& c : kControls) {
    // Edges are scaled rather than sizes, so controls apart at 96 DPI stay apart.
    const int x = Px(c.x);
    const int y = Px(c.y);
    HWND ctl = CreateWindowExW(c.exStyle, c.cls, c.text, c.style, x, y, Px(c.x + c.w) - x,
                               Px(c.y + c.h) - y, hwnd,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), inst, nullptr);
    if (!ctl) continue;
    if (c.id != IDC_DROPZONE && c.id != IDC_QR) {
      HFONT font = c.id == IDC_LINK ? g_hFontMono.get() : g_hFont.get();
      if (font) SendMessageW(ctl, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
    SetUpControl(ctl, c.id);
  }
  DragAcceptFiles(hwnd, TRUE);
  SetFocus(GetDlgItem(hwnd, IDC_DROPZONE));
  return 0;
}

// ---- painting and colours ----

LRESULT OnEraseBackground(HWND hwnd, HDC dc) {
  RECT rc{};
  GetClientRect(hwnd, &rc);
  FillRect(dc, &rc, g_hBrushSakura.get() ? g_hBrushSakura.get() : GetSysColorBrush(COLOR_BTNFACE));
  SetBkMode(dc, TRANSPARENT);
  SelectGuard selFont(dc, g_hFontTitle.get());
  SetTextColor(dc, kInk);
  {
    ScopedGdi<HPEN> outline(CreatePen(PS_SOLID, Px(1), kDiscOutline));
    ScopedGdi<HBRUSH> disc(CreateSolidBrush(kDisc));
    SelectGuard selPen(dc, outline.get());
    SelectGuard selBrush(dc, disc.get());
    Ellipse(dc, Px(14), Px(14), Px(42), Px(42));
  }
  DrawBlossom(dc, Px(28), Px(28), Px(10), kBlossomDeep);
  RECT title{Px(52), Px(10), rc.right - Px(10), Px(46)};
  DrawTextW(dc, kMainTitle, -1, &title, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
  SIZE ext{};
  GetTextExtentPoint32W(dc, kMainTitle, lstrlenW(kMainTitle), &ext);
  DrawBlossom(dc, Px(52) + ext.cx + Px(14), Px(28), Px(6), kBlossomDeep);
  {
    ScopedGdi<HPEN> rule(CreatePen(PS_SOLID, Px(1), kRule));
    SelectGuard selPen(dc, rule.get());
    MoveToEx(dc, Px(10), Px(48), nullptr);
    LineTo(dc, rc.right - Px(10), Px(48));
    MoveToEx(dc, Px(355), Px(60), nullptr);
    LineTo(dc, Px(355), Px(335));
  }
  return 1;
}

LRESULT OnCtlColorEdit(HDC dc) {
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, kInk);
  SetBkColor(dc, kFieldBack);
  return reinterpret_cast<LRESULT>(g_hBrushSakuraMist.get() ? g_hBrushSakuraMist.get()
                                                      : GetSysColorBrush(COLOR_WINDOW));
}

LRESULT OnCtlColorButton(HDC dc) {
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, kInk);
  return reinterpret_cast<LRESULT>(g_hBrushSakura.get() ? g_hBrushSakura.get() : GetSysColorBrush(COLOR_3DFACE));
}

LRESULT OnCtlColorStatic(HDC dc, HWND ctl) {
  const int id = GetDlgCtrlID(ctl);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, id == IDC_STATUS || id == IDC_PREMIUM_TITLE ? kMuted : kInk);
  return reinterpret_cast<LRESULT>(g_hBrushSakura.get() ? g_hBrushSakura.get() : GetSysColorBrush(COLOR_3DFACE));
}

LRESULT OnGetMinMaxInfo(LPARAM lParam) {
  MINMAXINFO* mmi = reinterpret_cast<MINMAXINFO*>(lParam);
  mmi->ptMinTrackSize = POINT{Px(kMainWidth), Px(kMainHeight)};
  mmi->ptMaxTrackSize = POINT{Px(kMainWidth), Px(kMainHeight)};
  return 0;
}

// ---- commands ----

void OnStartSharing(HWND hwnd) {
  const bool lan = SendMessageW(GetDlgItem(hwnd, IDC_MODE_LAN), BM_GETCHECK, 0, 0) == BST_CHECKED;
  const ShareMode mode = lan ? ShareMode::kLan : ShareMode::kInternet;
  wchar_t buf[kCustomLinkUnits] = {};
  GetWindowTextW(GetDlgItem(hwnd, IDC_CUSTOM_LINK), buf, kCustomLinkUnits);
  const int added = StartSharing(mode, WstrToUtf8(buf));
  if (added < 0) return;
  SetWindowTextW(GetDlgItem(hwnd, IDC_CUSTOM_LINK), L"");
  SetWindowTextW(GetDlgItem(hwnd, IDC_SELECTION), L"No file selected.");
  EnableWindow(GetDlgItem(hwnd, IDC_START), FALSE);
  RefreshListView(g_hMain);
  if (added > 0) ShowNewestShare(g_hMain);
}

void OnCopy(HWND hwnd) {
  wchar_t buf[kLinkFieldUnits] = {};
  GetWindowTextW(GetDlgItem(hwnd, IDC_LINK), buf, kLinkFieldUnits);
  if (buf[0] == L'\0') return;
  CopyTextToClipboard(buf);
  SetStatus(L"Link copied to clipboard.");
}

void OnCopyLink(HWND hwnd) {
  const int row = SelectedRow(hwnd);
  if (row < 0) {
    SetStatus(L"Select a row in the list first.");
    return;
  }
  const std::string url = UrlAtRow(row);
  if (url.empty()) {
    SetStatus(L"This link is not ready yet.");
    return;
  }
  CopyLinkAndSay(url);
}

void OnPasswordFocus(HWND hwnd) {
  SetWindowTextW(GetDlgItem(hwnd, IDC_PASSWORD), L"");
  PremiumBox(hwnd, kP1);
  SetFocus(GetDlgItem(hwnd, IDC_START));
}

void OnAutoZip(HWND hwnd) {
  SendMessageW(GetDlgItem(hwnd, IDC_AUTOZIP), BM_SETCHECK, BST_UNCHECKED, 0);
  PremiumBox(hwnd, kP2);
}

void OnExpireChanged(HWND hwnd) {
  SendMessageW(GetDlgItem(hwnd, IDC_EXPIRE), CB_SETCURSEL, kExpireDefault, 0);
  PremiumBox(hwnd, kP3);
}

void OnOffline(HWND hwnd) {
  SendMessageW(GetDlgItem(hwnd, IDC_OFFLINE), BM_SETCHECK, BST_UNCHECKED, 0);
  SendMessageW(GetDlgItem(hwnd, IDC_MODE_LAN), BM_SETCHECK, BST_UNCHECKED, 0);
  SendMessageW(GetDlgItem(hwnd, IDC_MODE_INTERNET), BM_SETCHECK, BST_CHECKED, 0);
  PremiumBox(hwnd, kP5);
}

void OnPause(HWND hwnd) {
  if (SelectedRow(hwnd) >= 0) PremiumBox(hwnd, kP6);
  else SetStatus(L"Select a row in the list first.");
}

LRESULT OnCommand(HWND hwnd, WPARAM wParam) {
  const int code = HIWORD(wParam);
  switch (LOWORD(wParam)) {
    case IDC_START: OnStartSharing(hwnd); break;
    case IDC_COPY: OnCopy(hwnd); break;
    case IDC_STOP_SELECTED: StopSelected(hwnd, SelectedRow(hwnd)); break;
    case IDC_COPY_LINK: OnCopyLink(hwnd); break;
    case IDC_STOP_ALL: StopAll(hwnd); break;
    case IDC_PASSWORD: if (code == EN_SETFOCUS) OnPasswordFocus(hwnd); break;
    case IDC_AUTOZIP: OnAutoZip(hwnd); break;
    case IDC_EXPIRE: if (code == CBN_SELCHANGE) OnExpireChanged(hwnd); break;
    case IDC_BRANDING: PremiumBox(hwnd, kP4); break;
    case IDC_OFFLINE: OnOffline(hwnd); break;
    case IDC_PAUSE: OnPause(hwnd); break;
  }
  return 0;
}

// ---- notifications ----

LRESULT OnListCustomDraw(LPARAM lParam) {
  NMLVCUSTOMDRAW* cd = reinterpret_cast<NMLVCUSTOMDRAW*>(lParam);
  switch (cd->nmcd.dwDrawStage) {
    case CDDS_PREPAINT: return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT: return CDRF_NOTIFYSUBITEMDRAW;
    case CDDS_SUBITEM | CDDS_ITEMPREPAINT:
      if (cd->iSubItem == 4) {
        cd->clrText = kStatusGreen;
        return CDRF_NEWFONT;
      }
      // The list keeps the colour of the previous sub-item: put the list's
      // own text colour back so only Status is green.
      cd->clrText = kInk;
      return CDRF_DODEFAULT;
  }
  return CDRF_DODEFAULT;
}

LRESULT OnListDoubleClick(LPARAM lParam) {
  const NMITEMACTIVATE* act = reinterpret_cast<const NMITEMACTIVATE*>(lParam);
  const std::string url = UrlAtRow(act->iItem);
  if (!url.empty()) CopyLinkAndSay(url);
  return 0;
}

// WM_NOTIFY carries a pointer that Windows does not marshal between
// processes, so any program could hand us a number to dereference. Our own
// controls send it from this thread (not a send from elsewhere) with the NMHDR
// in one of their stack frames, which lie above this one on this thread's
// stack; a posted one, or one from another thread, is never read.
bool IsOwnNotification(LPARAM lParam) {
  if (InSendMessageEx(nullptr) != ISMEX_NOSEND) return false;
  ULONG_PTR low = 0;
  ULONG_PTR high = 0;
  GetCurrentThreadStackLimits(&low, &high);
  const ULONG_PTR here = reinterpret_cast<ULONG_PTR>(&low);
  const ULONG_PTR hdr = static_cast<ULONG_PTR>(lParam);
  return hdr > here && hdr < high && high - hdr >= sizeof(NMHDR);
}

LRESULT OnNotify(LPARAM lParam) {
  if (!IsOwnNotification(lParam)) return 0;
  const NMHDR* hdr = reinterpret_cast<const NMHDR*>(lParam);
  if (!hdr || hdr->idFrom != IDC_LIST) return 0;
  switch (hdr->code) {
    case NM_DBLCLK: return OnListDoubleClick(lParam);
    case NM_CUSTOMDRAW: return OnListCustomDraw(lParam);
  }
  return 0;
}

// ---- messages from other instances and threads ----

LRESULT OnCopyData(HWND hwnd, LPARAM lParam) {
  const COPYDATASTRUCT* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
  if (!cds || cds->dwData != kForwardTag || !cds->lpData || cds->cbData < 2) return TRUE;
  const std::wstring path = PathFromForwardRecord(cds->dwData, cds->lpData, cds->cbData);
  if (!path.empty()) QueueShellPath(hwnd, path);
  if (IsIconic(hwnd)) ShowWindow(hwnd, SW_RESTORE);
  SetForegroundWindow(hwnd);
  return TRUE;
}

// Any program on the desktop can post 1028 with any number in lParam; only the
// address of our own path argument is read, never a stranger's pointer.
LRESULT OnShellPath(HWND hwnd, LPARAM lParam) {
  const wchar_t* path = reinterpret_cast<const wchar_t*>(lParam);
  if (path && path == g_ownPathArg && path[0] != L'\0') QueueShellPath(hwnd, std::wstring(path));
  return 0;
}

LRESULT OnTimer(HWND hwnd, WPARAM id, LPARAM lParam) {
  if (id != IDT_SHELL_BATCH) return DefWindowProcW(hwnd, WM_TIMER, id, lParam);
  FlushShellBatch(hwnd);
  return 0;
}

LRESULT OnDropFiles(WPARAM wParam) {
  HandleHDropAndForward(reinterpret_cast<HDROP>(wParam));
  return 0;
}

// ---- closing ----

LRESULT OnClose(HWND hwnd) {
  if (ConfirmCloseWhileSharing(hwnd)) DestroyWindow(hwnd);
  return 0;
}

// The session is ending (log-off, shut-down): Windows may end the program
// without any further message once this returns, so every share ends here,
// as Stop All does, and its archive goes with it.
LRESULT OnEndSession(WPARAM ending) {
  if (ending) {
    SetCompressionCancelled(true);  // a folder still being compressed is given up
    StopEverything();
  }
  return 0;
}

LRESULT OnDestroy() {
  // Nothing may leave a joinable thread behind: both calls do nothing unless
  // their service still runs, and both need the network stack.
  StopServices();
  CloseKillOnCloseJob();
  NetCleanup();
  g_hFont.reset();
  g_hFontTitle.reset();
  g_hFontMono.reset();
  g_hBrushSakura.reset();
  g_hBrushSakuraMist.reset();
  PostQuitMessage(0);
  return 0;
}

}  // namespace

int ReadSystemDpi() {
  HDC screen = GetDC(nullptr);
  if (!screen) return 96;
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

LRESULT CALLBACK MainProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CREATE: return OnCreate(hwnd);
    case WM_DESTROY: return OnDestroy();
    case WM_CLOSE: return OnClose(hwnd);
    case WM_QUERYENDSESSION: return TRUE;  // never holds up a log-off; WM_ENDSESSION stops sharing
    case WM_ENDSESSION: return OnEndSession(wParam);
    case WM_ERASEBKGND: return OnEraseBackground(hwnd, reinterpret_cast<HDC>(wParam));
    case WM_GETMINMAXINFO: return OnGetMinMaxInfo(lParam);
    case WM_COPYDATA: return OnCopyData(hwnd, lParam);
    case WM_NOTIFY: return OnNotify(lParam);
    case WM_COMMAND: return OnCommand(hwnd, wParam);
    case WM_TIMER: return OnTimer(hwnd, wParam, lParam);
    case WM_CTLCOLOREDIT: return OnCtlColorEdit(reinterpret_cast<HDC>(wParam));
    case WM_CTLCOLORLISTBOX: return OnCtlColorEdit(reinterpret_cast<HDC>(wParam));
    case WM_CTLCOLORBTN: return OnCtlColorButton(reinterpret_cast<HDC>(wParam));
    case WM_CTLCOLORSTATIC: return OnCtlColorStatic(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_DROPFILES: return OnDropFiles(wParam);
    case WM_SHELL_PATH: return OnShellPath(hwnd, lParam);
    case WM_APP_EVENTS: HandleSharingEvents(hwnd); return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}
