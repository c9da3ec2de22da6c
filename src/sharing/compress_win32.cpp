#include "sharing/compress.h"

#include <windows.h>

#include "platform/process.h"
#include "sharing/archive.h"

namespace {

constexpr unsigned kCompressorEndWaitMs = 5000;  // after a forced end, before deleting
constexpr unsigned kCompressPollMs = 50;         // how often a waiting compression asks `stop`
constexpr const wchar_t* kPowerShellInSystem = L"\\WindowsPowerShell\\v1.0\\powershell.exe";

// The system's PowerShell; empty (which fails the start) when the system
// folder cannot be read.
std::wstring SystemPowerShell() {
  std::wstring dir(MAX_PATH, L'\0');
  for (int tries = 0; tries < 4; ++tries) {
    const UINT n = GetSystemDirectoryW(dir.data(), static_cast<UINT>(dir.size()));
    if (n == 0) return std::wstring();
    if (n < dir.size()) return dir.substr(0, n) + kPowerShellInSystem;
    dir.assign(n, L'\0');  // n counts the terminator when the buffer was short
  }
  return std::wstring();
}

}  // namespace

// PowerShell takes both paths from its environment; the job ends it with the
// program if the program is closed meanwhile.
CompressOutcome CompressInto(const std::wstring& folder, const std::wstring& archive,
                             const std::function<CompressStop()>& stop, uint64_t,
                             std::wstring& failText) {
  failText = CompressFailedText(CompressEnd::kNotStarted, 0);
  ChildProcess child;
  const std::vector<std::wstring> env = CompressorEnvironment(folder, archive);
  if (StartHiddenProcess(PowerShellCompressArguments(SystemPowerShell()), child, nullptr, &env) !=
      ChildStart::kStarted)
    return CompressOutcome::kFailed;
  AssignChildToJob(child);
  while (!WaitChild(child, kCompressPollMs)) {
    const CompressStop s = stop();
    if (s == CompressStop::kGoOn) continue;
    // End it, and let it release the archive before the caller deletes it.
    TerminateChild(child);
    WaitChild(child, kCompressorEndWaitMs);
    if (s == CompressStop::kCancelled) return CompressOutcome::kCancelled;
    failText = CompressFailedText(CompressEnd::kTimedOut, 0);
    return CompressOutcome::kFailed;
  }
  uint32_t code = 1;
  if (!ChildExitCode(child, code)) code = 1;
  if (code == 0) return CompressOutcome::kDone;
  failText = CompressFailedText(CompressEnd::kExited, code);
  return CompressOutcome::kFailed;
}
