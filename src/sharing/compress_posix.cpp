#include "sharing/compress.h"

#include "platform/text.h"
#include "sharing/archive.h"
#include "sharing/folder_zip.h"
#include "sharing/shell.h"

CompressOutcome CompressInto(const std::wstring& folder, const std::wstring& archive,
                             const std::function<CompressStop()>& stop, uint64_t capBytes,
                             std::wstring& failText) {
  FolderZipHooks hooks;
  hooks.capBytes = capBytes;
  hooks.stop = stop;
  hooks.skipped = ShellReportSkipped;
  hooks.progress = ShellArchiveProgress;
  int error = 0;
  switch (WriteFolderZip(WstrToUtf8(folder), WstrToUtf8(archive), hooks, error)) {
    case ZipEnd::kDone: return CompressOutcome::kDone;
    case ZipEnd::kCancelled: return CompressOutcome::kCancelled;
    case ZipEnd::kTooLarge: return CompressOutcome::kTooLarge;
    case ZipEnd::kTimedOut: failText = CompressFailedText(CompressEnd::kTimedOut, 0); break;
    case ZipEnd::kNoFolder:
      failText = CompressFailedText(CompressEnd::kNotStarted, static_cast<uint32_t>(error));
      break;
    case ZipEnd::kWriteFailed:
      failText = CompressFailedText(CompressEnd::kWriteFailed, static_cast<uint32_t>(error));
      break;
  }
  return CompressOutcome::kFailed;
}
