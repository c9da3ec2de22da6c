// Process entry: the self-test branch, then the program's start-up: network
// stack, identity, common controls, the job for child processes, one
// instance per login (a second start forwards its path and ends), window
// classes, the main window, the Explorer verb, the missing-client prompt and
// the message loop.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cwchar>
#include <string>

#include "control_ids.h"
#include "core/app_messages.h"
#include "crypto/identity.h"
#include "platform/net.h"
#include "platform/process.h"
#include "selftest/selftest.h"
#include "sharing/archive.h"
#include "sharing/session.h"
#include "sharing/shell.h"
#include "ui.h"
#include "ui_logic.h"
#include "win_guards.h"

ScopedHandle g_hInstMutex;  // this instance's single-instance mutex

namespace {

constexpr const wchar_t* kSelfTestArg = L"--self-test";
constexpr const wchar_t* kMutexName = L"Local\\VornHaleSingleInstance_v1";
constexpr int kForwardAttempts = 50;
constexpr DWORD kForwardRetryMs = 100;
constexpr DWORD kCommonControls = ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES;  // 0x40FF
constexpr const wchar_t* kCloudflaredDownloadPage =
    L"https://github.com/cloudflare/cloudflared/releases/latest";
constexpr const wchar_t* kVerbKeys[] = {L"Software\\Classes\\*\\shell\\VornHaleShare",
                                        L"Software\\Classes\\Directory\\shell\\VornHaleShare"};

// The process's argument vector, freed with LocalFree.
class ArgVector {
 public:
  ArgVector() : argv_(CommandLineToArgvW(GetCommandLineW(), &argc_)) {}
  ~ArgVector() {
    if (argv_) LocalFree(argv_);
  }
  ArgVector(const ArgVector&) = delete;
  ArgVector& operator=(const ArgVector&) = delete;
  // Element i, or an empty string when there is none.
  std::wstring At(int i) const { return argv_ && i < argc_ ? std::wstring(argv_[i]) : std::wstring(); }
  bool Has(int i) const { return argv_ && i < argc_; }

 private:
  int argc_ = 0;
  LPWSTR* argv_ = nullptr;
};

bool WantsSelfTest() {
  ArgVector args;
  return args.Has(1) && std::wcscmp(args.At(1).c_str(), kSelfTestArg) == 0;
}

std::wstring PathArgument() {
  ArgVector args;
  return args.At(1);
}

void CloseInstanceMutex() { g_hInstMutex.reset(); }

// Second instance: hand the path to the first instance's window (waiting up
// to about 5 s for it to appear), then end.
int ForwardToFirstInstance(const std::wstring& path) {
  for (int attempt = 0; attempt < kForwardAttempts; ++attempt) {
    HWND first = FindWindowW(kMainClass, kMainTitle);
    if (first) {
      // The first instance brings itself to the front; Windows lets a
      // background process do that only when the foreground one allows it.
      DWORD firstPid = 0;
      GetWindowThreadProcessId(first, &firstPid);
      if (firstPid != 0) AllowSetForegroundWindow(firstPid);
      if (!path.empty()) {
        COPYDATASTRUCT cds{};
        cds.dwData = static_cast<ULONG_PTR>(kForwardTag);
        cds.cbData = static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t));
        cds.lpData = const_cast<wchar_t*>(path.c_str());
        SendMessageW(first, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds));
      }
      break;
    }
    Sleep(kForwardRetryMs);
  }
  CloseInstanceMutex();
  NetCleanup();
  return 0;
}

void RegisterWindowClass(HINSTANCE inst, const wchar_t* name, WNDPROC proc, const wchar_t* cursor,
                         HICON icon = nullptr) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = proc;
  wc.hInstance = inst;
  wc.hIcon = icon;
  wc.hCursor = LoadCursorW(nullptr, cursor);
  wc.lpszClassName = name;
  RegisterClassW(&wc);
}

void RegisterClasses(HINSTANCE inst) {
  // Our own blossom first; the system application icon if it is missing.
  HICON icon = LoadIconW(inst, MAKEINTRESOURCEW(IDI_APP_ICON));
  if (!icon) icon = LoadIconW(nullptr, IDI_APPLICATION);
  RegisterWindowClass(inst, kMainClass, MainProc, IDC_ARROW, icon);
  RegisterWindowClass(inst, kDropZoneClass, DropZoneProc, IDC_HAND);
  RegisterWindowClass(inst, kQRClass, QRProc, IDC_ARROW);
}

void SetStringValue(HKEY key, const wchar_t* name, const std::wstring& data) {
  RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                 static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
}

bool CreateKey(const std::wstring& path, ScopedRegKey& key) {
  return RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                         key.out(), nullptr) == ERROR_SUCCESS;
}

// "Share with Vorn-Hale" for every file type and for folders, per user.
void WriteExplorerVerb() {
  wchar_t exe[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  const std::wstring command = VerbCommandValue(exe);
  for (const wchar_t* verbKey : kVerbKeys) {
    {
      ScopedRegKey verb;
      if (CreateKey(verbKey, verb)) {
        SetStringValue(verb.get(), nullptr, L"Share with Vorn-Hale");
        SetStringValue(verb.get(), L"Icon", L"shell32.dll,71");
      }
    }
    ScopedRegKey cmd;
    if (CreateKey(std::wstring(verbKey) + L"\\command", cmd)) {
      SetStringValue(cmd.get(), nullptr, command);
    }
  }
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}

void OfferTunnelClientDownload(HWND main) {
  if (TunnelClientPresent()) return;
  const int answer = MessageBoxW(main,
                                 L"cloudflared.exe is not in the application folder.\n\nInternet mode "
                                 L"will not work until you place it there.\nOpen the download page now?",
                                 kCaption, MB_YESNO | MB_ICONINFORMATION);
  if (answer == IDYES) {
    ShellExecuteW(nullptr, L"open", kCloudflaredDownloadPage, nullptr, nullptr, SW_SHOWNORMAL);
  }
}

int RunMessageLoop(HWND main) {
  MSG msg{};
  for (;;) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0 || got == -1) break;
    if (IsWindow(main) && IsDialogMessageW(main, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, PWSTR, int nCmdShow) {
  // Before anything loads a DLL: the ones not imported at start-up (the
  // delay-loaded IPHLPAPI, WINHTTP and bcrypt) come from System32 only, never
  // from the program's folder, where anything may have been downloaded.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (WantsSelfTest()) return RunSelfTests();

  if (!NetStartup()) return 1;

  // A key an interrupted self-test left set aside is the user's: back first.
  vh::IdentityStore::RestoreSetAsideKey();
  if (!vh::IdentityStore::Init()) {
    OutputDebugStringW(L"Vorn-Hale: identity init failed; peer mode disabled\n");
  }

  INITCOMMONCONTROLSEX icc{};
  icc.dwSize = sizeof(icc);
  icc.dwICC = kCommonControls;
  InitCommonControlsEx(&icc);

  CreateKillOnCloseJob();

  const std::wstring pathArg = PathArgument();

  g_hInstMutex.reset(CreateMutexW(nullptr, FALSE, kMutexName));
  const bool second = g_hInstMutex.valid() && GetLastError() == ERROR_ALREADY_EXISTS;
  if (second) {
    return ForwardToFirstInstance(pathArg);
  }

  // The first instance of this login: archives an earlier run left behind
  // (ended without its clean-up) are no one's now.
  SweepLeftArchives();
  RegisterClasses(hInstance);

  // The manifest declares the program aware of the system DPI: Windows does
  // not stretch it, so the window scales its own layout.
  g_dpi = g_systemDpi = ReadSystemDpi();
  HWND main = CreateWindowExW(WS_EX_ACCEPTFILES, kMainClass, kMainTitle,
                              WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT, CW_USEDEFAULT,
                              Px(kMainWidth), Px(kMainHeight), nullptr, nullptr, hInstance, nullptr);
  if (!main) {
    CloseKillOnCloseJob();
    NetCleanup();
    CloseInstanceMutex();
    return 1;
  }
  ShowWindow(main, nCmdShow);
  UpdateWindow(main);

  WriteExplorerVerb();

  if (!pathArg.empty()) {
    static const std::wstring sPath = pathArg;
    g_ownPathArg = sPath.c_str();
    PostMessageW(main, WM_SHELL_PATH, 0, reinterpret_cast<LPARAM>(sPath.c_str()));
  }

  OfferTunnelClientDownload(main);

  const int code = RunMessageLoop(main);
  // The window stops both services when it is destroyed. A sharing call that
  // was still running then (messages are pumped while a folder is
  // compressed) finds the network stack ended and cannot start them again;
  // still, no thread may be left joinable when the globals are destroyed.
  StopServices();
  CloseInstanceMutex();
  return code;
}
