#include "platform/message.h"

#include <windows.h>

bool PostWindowMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return PostMessageW(hwnd, msg, wParam, lParam) != FALSE;
}

bool WaitAppMessage(AppMessage& out, unsigned timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      if (m.message >= WM_USER && m.message <= 0x7FFF) {
        out = AppMessage{m.hwnd, m.message, m.wParam, m.lParam};
        return true;
      }
      TranslateMessage(&m);
      DispatchMessageW(&m);
    }
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(deadline - now), QS_ALLINPUT);
  }
}

HWND CreateMessageWindow() {
  static const wchar_t kClass[] = L"VornHaleMessageSink";
  WNDCLASSW wc{};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = kClass;
  RegisterClassW(&wc);  // already registered on later calls: fine
  return CreateWindowExW(0, kClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                         wc.hInstance, nullptr);
}

void DestroyMessageWindow(HWND hwnd) {
  if (hwnd) DestroyWindow(hwnd);
}
