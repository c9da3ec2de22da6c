// Process entry: the self-test branch, then the program's start-up.
#include <windows.h>
#include <shellapi.h>

#include <cwchar>

#include "crypto/identity.h"
#include "selftest/selftest.h"

namespace {

constexpr const wchar_t* kSelfTestArg = L"--self-test";

// True when the command line's element 1 is exactly "--self-test".
bool WantsSelfTest() {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv) return false;
  const bool selfTest = argc > 1 && std::wcscmp(argv[1], kSelfTestArg) == 0;
  LocalFree(argv);
  return selfTest;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  if (WantsSelfTest()) return RunSelfTests();

  if (!vh::IdentityStore::Init())
    OutputDebugStringW(L"Vorn-Hale: identity init failed; peer mode disabled\n");
  return 0;
}
