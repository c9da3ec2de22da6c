// The views of the registry in the main window (hosted list, latest link,
// status line), the clipboard, stopping every share, and the shell functions
// the sharing core calls.
#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <memory>
#include <mutex>

#include "control_ids.h"
#include "core/registry.h"
#include "platform/text.h"
#include "sharing/shell.h"
#include "ui.h"
#include "ui_logic.h"

// The shell headers map this name to ShellMessageBoxW; ours is the core's.
#undef ShellMessageBox

namespace {

void SetItemText(HWND list, int row, int col, const std::wstring& text) {
  LVITEMW it{};
  it.iSubItem = col;
  it.pszText = const_cast<wchar_t*>(text.c_str());
  SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&it));
}

}  // namespace

void SetStatus(const wchar_t* text) {
  SetWindowTextW(GetDlgItem(g_hMain, IDC_STATUS), text);
}

void ShellNote(StatusNote note) { SetStatus(WindowStatusText(note)); }

// Windows archives through PowerShell, which reports nothing per entry.
void ShellReportSkipped(const std::string&, SkipReason, int) {}
void ShellArchiveProgress(uint64_t, uint64_t, bool) {}

int ShellMessageBox(HWND owner, const std::wstring& text, const wchar_t* caption, unsigned type) {
  return MessageBoxW(owner, text.c_str(), caption, type);
}

void ShellSetSelectionText(const std::wstring& text) {
  SetWindowTextW(GetDlgItem(g_hMain, IDC_SELECTION), text.c_str());
}

void ShellEnableStart(bool enable) {
  EnableWindow(GetDlgItem(g_hMain, IDC_START), enable ? TRUE : FALSE);
}

void ShellPumpMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // Leave the quit for the main loop.
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    if (g_hMain && IsDialogMessageW(g_hMain, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void CopyTextToClipboard(const std::wstring& text) {
  if (!OpenClipboard(g_hMain)) return;
  EmptyClipboard();
  const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes);
  if (!block) {
    CloseClipboard();
    return;
  }
  void* p = GlobalLock(block);
  if (!p) {
    GlobalFree(block);
    CloseClipboard();
    return;
  }
  std::memcpy(p, text.c_str(), bytes);
  GlobalUnlock(block);
  if (!SetClipboardData(CF_UNICODETEXT, block)) GlobalFree(block);
  CloseClipboard();
}

void RefreshListView(HWND hwnd) {
  HWND list = GetDlgItem(hwnd, IDC_LIST);
  if (!list) return;
  const int top = static_cast<int>(SendMessageW(list, LVM_GETTOPINDEX, 0, 0));
  const int selected =
      static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);

  const std::vector<std::shared_ptr<HostedItem>> items = SnapshotHosted();
  for (size_t i = 0; i < items.size(); ++i) {
    const HostedItem& item = *items[i];
    const int row = static_cast<int>(i);
    std::wstring name = Utf8ToWstr(item.name);
    LVITEMW it{};
    it.mask = LVIF_TEXT | LVIF_PARAM;
    it.iItem = row;
    it.pszText = name.data();
    it.lParam = static_cast<LPARAM>(i);
    SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&it));

    wchar_t downloads[16] = {};
    swprintf(downloads, 16, L"%d", static_cast<int>(item.downloads.load()));
    SetItemText(list, row, 1, item.isFolder ? L"Folder" : L"File");
    SetItemText(list, row, 2, FormatSizeW(item.size));
    SetItemText(list, row, 3, item.mode == ShareMode::kInternet ? L"Internet" : L"LAN");
    SetItemText(list, row, 4, L"Active");
    SetItemText(list, row, 5, item.url.empty() ? L"(waiting for tunnel...)" : Utf8ToWstr(item.url));
    SetItemText(list, row, 6, downloads);
  }

  if (selected >= 0 && static_cast<size_t>(selected) < items.size()) {
    LVITEMW st{};
    st.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    st.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(selected), reinterpret_cast<LPARAM>(&st));
  }
  if (top > 0) SendMessageW(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(top), FALSE);
}

void ShowLatestLink(HWND hwnd) {
  const std::shared_ptr<HostedItem> latest = LatestHosted();
  if (latest && !latest->url.empty()) {
    SetWindowTextW(GetDlgItem(hwnd, IDC_LINK), Utf8ToWstr(latest->url).c_str());
    EnableWindow(GetDlgItem(hwnd, IDC_COPY), TRUE);
    UpdateQRForUrl(hwnd, latest->url);
  } else {
    SetWindowTextW(GetDlgItem(hwnd, IDC_LINK), L"");
    EnableWindow(GetDlgItem(hwnd, IDC_COPY), FALSE);
    UpdateQRForUrl(hwnd, std::string());
  }
}
