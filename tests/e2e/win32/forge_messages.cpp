// A stranger on the desktop: finds the program's main window and hands it the
// program's own message numbers with made-up parameters, the way any other
// program could. With the argument "endsession" it sends what Windows sends
// at log-off instead: WM_QUERYENDSESSION, then WM_ENDSESSION (TRUE). Prints
// one line per attempt; exit 1 when no window is found.
#include <windows.h>

#include <cstdio>

namespace {

constexpr UINT kTunnelReady = WM_USER + 1;
constexpr UINT kTunnelFailed = WM_USER + 2;
constexpr UINT kTunnelFound = WM_USER + 6;
constexpr LPARAM kMadeUpPointer = static_cast<LPARAM>(0x5EED0000BEE0);
constexpr WPARAM kListId = 110;  // the hosted list's control id

void Post(HWND hwnd, const char* what, UINT msg, WPARAM wParam, LPARAM lParam) {
  const BOOL ok = PostMessageW(hwnd, msg, wParam, lParam);
  std::printf("post %s: %s\n", what, ok ? "delivered" : "refused");
}

}  // namespace

// Sends msg and prints what the window answered.
void Send(HWND hwnd, const char* what, UINT msg, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  const LRESULT sent = SendMessageTimeoutW(hwnd, msg, wParam, lParam, SMTO_ABORTIFHUNG, 30000, &result);
  std::printf("send %s: %s %lld\n", what, sent ? "answered" : "refused", static_cast<long long>(result));
}

int main(int argc, char** argv) {
  HWND hwnd = FindWindowW(L"VornHaleMainWnd", nullptr);
  if (!hwnd) {
    std::printf("no main window\n");
    return 1;
  }
  if (argc > 1 && lstrcmpA(argv[1], "endsession") == 0) {
    Send(hwnd, "WM_QUERYENDSESSION", WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
    Send(hwnd, "WM_ENDSESSION", WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    return 0;
  }
  Post(hwnd, "1025 made-up pointer", kTunnelReady, 1, kMadeUpPointer);
  Post(hwnd, "1025 null", kTunnelReady, 1, 0);
  Post(hwnd, "1026", kTunnelFailed, 0, 0);
  Post(hwnd, "1030", kTunnelFound, 0, 0);
  Post(hwnd, "WM_NOTIFY made-up pointer", WM_NOTIFY, kListId, kMadeUpPointer);
  DWORD_PTR result = 0;
  const LRESULT sent = SendMessageTimeoutW(hwnd, WM_NOTIFY, kListId, kMadeUpPointer,
                                           SMTO_ABORTIFHUNG, 5000, &result);
  std::printf("send WM_NOTIFY made-up pointer: %s\n", sent ? "delivered" : "refused");
  return 0;
}
