// The ways paths come in: the drop zone control with its file and folder
// pickers, files dropped anywhere on the main window, and paths forwarded by
// the shell, which are batched for 300 ms. All of them end in OnPathsSelected.
#include <windows.h>
#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>

#include <memory>

#include "control_ids.h"
#include "sharing/share.h"
#include "ui.h"
#include "ui_logic.h"
#include "win_guards.h"

std::vector<std::wstring> g_shellBatch;
const wchar_t* g_ownPathArg = nullptr;

namespace {

constexpr DWORD kPickerBufferUnits = 65536;
constexpr UINT kMenuFiles = 1;
constexpr UINT kMenuFolder = 2;
constexpr COLORREF kFrame = RGB(232, 110, 145);

static_assert(sizeof(OPENFILENAMEW) == 152, "open-file dialog structure of 152 bytes");

void RunFilePicker(HWND owner) {
  std::unique_ptr<wchar_t[]> buf(new (std::nothrow) wchar_t[kPickerBufferUnits]());
  if (!buf) return;
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = owner;
  ofn.lpstrFile = buf.get();
  ofn.nMaxFile = kPickerBufferUnits;
  ofn.lpstrTitle = L"Select up to 3 files to share";
  ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_ALLOWMULTISELECT;
  if (!GetOpenFileNameW(&ofn)) return;
  const std::vector<std::wstring> paths = SplitPickerResult(buf.get(), kPickerBufferUnits);
  if (!paths.empty()) OnPathsSelected(paths);
}

void RunFolderPicker(HWND owner) {
  const HRESULT co = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const bool coOk = co == S_OK || co == S_FALSE;
  std::wstring path;
  BROWSEINFOW bi{};
  bi.hwndOwner = owner;
  bi.lpszTitle = L"Select a folder to share";
  bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE | BIF_NONEWFOLDERBUTTON;
  if (PIDLIST_ABSOLUTE pidl = SHBrowseForFolderW(&bi)) {
    wchar_t buf[MAX_PATH] = {};
    if (SHGetPathFromIDListW(pidl, buf)) path = buf;
    CoTaskMemFree(pidl);
  }
  if (coOk) CoUninitialize();
  if (!path.empty()) OnPathsSelected(std::vector<std::wstring>{path});
}

LRESULT OnPaint(HWND hwnd) {
  PaintScope paint(hwnd);
  HDC dc = paint.dc();
  if (!dc) return 0;
  RECT rc{};
  GetClientRect(hwnd, &rc);
  FillSolid(dc, rc, kSakuraMist);
  {
    ScopedGdi<HPEN> dots(CreatePen(PS_DOT, 1, kFrame));
    SelectGuard selPen(dc, dots.get());
    SelectGuard selBrush(dc, GetStockObject(NULL_BRUSH));
    Rectangle(dc, rc.left + Px(1), rc.top + Px(1), rc.right - Px(1), rc.bottom - Px(1));
  }
  DrawBlossom(dc, rc.left + Px(12), rc.top + Px(12), Px(6), kBlossomPink);
  DrawBlossom(dc, rc.right - Px(12), rc.top + Px(12), Px(6), kBlossomDeep);
  DrawBlossom(dc, rc.left + Px(12), rc.bottom - Px(12), Px(5), kBlossomDeep);
  DrawBlossom(dc, rc.right - Px(12), rc.bottom - Px(12), Px(6), kBlossomPink);

  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, kInk);
  {
    SelectGuard selFont(dc, g_hFont.get());
    RECT text = rc;
    DrawTextW(dc, L"Drop your file / folder here", -1, &text,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOCLIP);
  }
  if (GetFocus() == hwnd) {
    RECT focus = rc;
    InflateRect(&focus, -Px(3), -Px(3));
    DrawFocusRect(dc, &focus);
  }
  return 0;
}

LRESULT OnFocusChange(HWND hwnd) {
  InvalidateRect(hwnd, nullptr, FALSE);
  return 0;
}

LRESULT OnSetCursor() {
  SetCursor(LoadCursorW(nullptr, IDC_HAND));
  return TRUE;
}

// Arrow keys and characters always; Enter as well, so that the dialog-style
// keyboard handling does not turn it into a default-button press. Tab is
// left to that handling, so focus still moves on.
LRESULT OnGetDlgCode(LPARAM lParam) {
  LRESULT code = DLGC_WANTARROWS | DLGC_WANTCHARS;
  const MSG* m = reinterpret_cast<const MSG*>(lParam);
  if (m && m->message == WM_KEYDOWN && m->wParam == VK_RETURN) code |= DLGC_WANTMESSAGE;
  return code;
}

LRESULT OnKeyDown(HWND hwnd, WPARAM key, LPARAM lParam) {
  if (key == VK_RETURN || key == VK_SPACE) {
    // The key's own character ('\r' or ' ') is already queued behind this
    // message; left there, the menu's loop takes it as "choose the
    // highlighted item" and closes at once with nothing chosen.
    MSG pending;
    while (PeekMessageW(&pending, hwnd, WM_CHAR, WM_CHAR, PM_REMOVE)) {
    }
    DropZoneOpenPicker(hwnd);
    return 0;
  }
  return DefWindowProcW(hwnd, WM_KEYDOWN, key, lParam);
}

LRESULT OnLButtonDown(HWND hwnd) {
  SetFocus(hwnd);
  return 0;
}

LRESULT OnLButtonUp(HWND hwnd) {
  DropZoneOpenPicker(hwnd);
  return 0;
}

LRESULT OnDropFiles(WPARAM wParam) {
  HandleHDropAndForward(reinterpret_cast<HDROP>(wParam));
  return 0;
}

// Releases the drop handle on every way out, exceptions included.
using DropGuard = Owned<HDROP, static_cast<HDROP>(nullptr), DragFinish>;

}  // namespace

LRESULT CALLBACK DropZoneProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_SETFOCUS: return OnFocusChange(hwnd);
    case WM_KILLFOCUS: return OnFocusChange(hwnd);
    case WM_PAINT: return OnPaint(hwnd);
    case WM_SETCURSOR: return OnSetCursor();
    case WM_GETDLGCODE: return OnGetDlgCode(lParam);
    case WM_KEYDOWN: return OnKeyDown(hwnd, wParam, lParam);
    case WM_LBUTTONDOWN: return OnLButtonDown(hwnd);
    case WM_LBUTTONUP: return OnLButtonUp(hwnd);
    case WM_DROPFILES: return OnDropFiles(wParam);
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

void DropZoneOpenPicker(HWND dropZone) {
  HWND owner = GetParent(dropZone);
  POINT pt{};
  GetCursorPos(&pt);
  UINT cmd = 0;
  {
    ScopedMenu menu(CreatePopupMenu());
    if (!menu.get()) return;
    AppendMenuW(menu.get(), MF_STRING, kMenuFiles, L"Files...");
    AppendMenuW(menu.get(), MF_STRING, kMenuFolder, L"Folder...");
    cmd = static_cast<UINT>(TrackPopupMenu(menu.get(), TPM_RETURNCMD, pt.x, pt.y, 0, owner, nullptr));
  }
  if (cmd == kMenuFiles) RunFilePicker(owner);
  else if (cmd == kMenuFolder) RunFolderPicker(owner);
}

void HandleHDropAndForward(HDROP drop) {
  if (!drop) return;
  DropGuard guard(drop);
  const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  if (count == 0) return;
  try {
    std::vector<std::wstring> paths;
    for (UINT i = 0; i < count; ++i) {
      wchar_t buf[MAX_PATH] = {};
      DragQueryFileW(drop, i, buf, MAX_PATH);
      paths.emplace_back(buf);
    }
    OnPathsSelected(paths);
  } catch (...) {
    // Out of memory while collecting names: the drop is released, nothing staged.
  }
}

void QueueShellPath(HWND hwnd, const std::wstring& path) {
  if (path.empty() || !hwnd) return;
  g_shellBatch.push_back(path);
  SetTimer(hwnd, IDT_SHELL_BATCH, kShellBatchDelayMs, nullptr);
}

void FlushShellBatch(HWND hwnd) {
  KillTimer(hwnd, IDT_SHELL_BATCH);
  if (g_shellBatch.empty()) return;
  std::vector<std::wstring> batch;
  batch.swap(g_shellBatch);
  OnPathsSelected(batch);
}
