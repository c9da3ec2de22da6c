// Turning chosen paths into hosted items: the staged selection, the caps, the
// file lock and size limit, folder compression, and the item's insertion.
#include "sharing/share.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/links.h"
#include "core/registry.h"
#include "http/listener.h"
#include "platform/file.h"
#include "platform/fs.h"
#include "platform/module.h"
#include "platform/process.h"
#include "platform/text.h"
#include "sharing/archive.h"
#include "sharing/compress.h"
#include "sharing/shell.h"
#include "text/slug.h"
#include "tunnel/supervisor.h"

std::vector<std::wstring> g_pendingPaths;

namespace {

constexpr int kMaxFiles = 3;
constexpr int kMaxFolders = 1;
constexpr uint64_t kMaxFileSize = 1073741824;  // 1 GiB; the messages call it 1 GB
constexpr unsigned kCompressTimeoutMs = 600000;  // 10 minutes
constexpr unsigned kCompressorEndWaitMs = 5000;  // after a forced end, before deleting
constexpr unsigned kCompressPollMs = 50;  // how often a waiting compression looks for a stop
constexpr size_t kSelectionNameMax = 200;
constexpr size_t kSelectionTextMax = 255;  // a 256-character buffer with its terminator

std::atomic<unsigned> g_compressTimeoutMs{kCompressTimeoutMs};
std::atomic<bool> g_compressCancelled{false};

const wchar_t kFreeTierText[] =
    L"You've reached the free-tier sharing limit.\n\n"
    L"   Free plan:  up to 3 files  OR  1 folder per session.\n"
    L"   Premium:    unlimited files, mixed batches, larger size cap.\n\n"
    L"Stop or remove an existing share to add another, or stay tuned - Premium is coming soon.";
const wchar_t kNoneOpenedText[] = L"None of the dropped paths could be opened.";
const wchar_t kPathNotFoundText[] = L"Path not found.";
const wchar_t kFileNotFoundText[] = L"File not found.";
const wchar_t kFolderAsFileText[] = L"Internal error: folder reached file-share path.";
const wchar_t kCannotLockText[] =
    L"Cannot lock the file for sharing. Close it in any other app and try again.";
const wchar_t kNoSizeText[] = L"Cannot read file size.";
const wchar_t kTooLargeText[] = L"File exceeds the 1 GB limit for the free tier.";
const wchar_t kNoServerText[] =
    L"Could not start the local server.\nCheck your firewall settings and try again.";

const wchar_t kStatusChooseMode[] = L"Choose a mode, then click Start Sharing.";
const wchar_t kStatusCompressing[] = L"Compressing folder... (this may take a moment)";
const wchar_t kStatusCompressFailed[] = L"Folder compression failed.";
const wchar_t kStatusLanReady[] = L"LAN link ready and copied to clipboard.";
const wchar_t kStatusLinkReady[] = L"Link ready and copied to clipboard.";
const wchar_t kStatusTunnelStarting[] = L"Starting Cloudflare tunnel (up to 60s)...";
const wchar_t kStatusNoClient[] = L"cloudflared.exe missing using LAN link instead.";

void ShowBox(HWND owner, const wchar_t* text, unsigned icon) {
  ShellMessageBox(owner, text, kCaption, kMbOk | icon);
}

void ShowFreeTierBox(HWND owner) {
  ShellMessageBox(owner, kFreeTierText, kCaptionPremium, kMbOk | kMbIconInformation);
}

// "Selected file: name" for one path (at most 200 characters of its last
// component), "Selected N items (F file(s), D folder(s))" for more.
std::wstring SelectionText(const std::vector<std::wstring>& kept, int files, int folders) {
  std::wstring text;
  if (kept.size() == 1) {
    bool isFolder = false;
    const bool known = ReadPathKind(kept[0], isFolder);
    std::wstring name = PathLastComponent(kept[0]);
    if (name.empty()) name = kept[0];  // a root: show it whole
    size_t cut = name.size() < kSelectionNameMax ? name.size() : kSelectionNameMax;
    // Never end on the first half of a UTF-16 surrogate pair.
    if (cut < name.size() && cut > 0 && name[cut - 1] >= 0xD800 && name[cut - 1] <= 0xDBFF) --cut;
    text = L"Selected ";
    text += known && isFolder ? L"folder" : L"file";
    text += L": ";
    text.append(name, 0, cut);
  } else {
    text = L"Selected " + std::to_wstring(kept.size()) + L" items (" + std::to_wstring(files) +
           L" file(s), " + std::to_wstring(folders) + L" folder(s))";
  }
  if (text.size() > kSelectionTextMax) text.resize(kSelectionTextMax);
  return text;
}

enum class CompressOutcome { kDone, kFailed, kCancelled };

// Runs the compressor for `folder` and waits for it. `archive` is set once
// this call has made the archive's file, so that the caller deletes only an
// archive of its own after a failure; `hold` keeps it marked live until the
// item holds it; `failText` says why it failed.
CompressOutcome CompressFolder(const std::wstring& folder, std::wstring& archive, ScopedFile& hold,
                               std::wstring& failText) {
  std::wstring name = PathLastComponent(folder);
  if (name.empty()) name = L"folder";
  const uint64_t tick = TickCountMs();
  const std::wstring dir = ArchiveFolder();

  SetStatus(kStatusCompressing);
  ShellPumpMessages();
  failText = CompressFailedText(CompressEnd::kNoArchive, 0);
  if (dir.empty()) return CompressOutcome::kFailed;  // nothing of ours in a folder we cannot trust
  if (g_compressCancelled.load()) return CompressOutcome::kCancelled;
  archive = ReserveArchivePath(dir, name, tick, hold);
  if (archive.empty()) return CompressOutcome::kFailed;

  failText = CompressFailedText(CompressEnd::kNotStarted, 0);
  ChildProcess child;
  const std::vector<std::wstring> env = CompressorEnvironment(folder, archive);
  if (!StartHiddenProcess(CompressorArguments(folder, archive), child, nullptr, &env))
    return CompressOutcome::kFailed;
  AssignChildToJob(child);  // ends with the program if it is closed meanwhile
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(g_compressTimeoutMs.load());
  while (!WaitChild(child, kCompressPollMs)) {
    const bool cancelled = g_compressCancelled.load();
    if (cancelled || std::chrono::steady_clock::now() >= deadline) {
      // End it, and let it release the archive before the caller deletes it.
      TerminateChild(child);
      WaitChild(child, kCompressorEndWaitMs);
      if (cancelled) return CompressOutcome::kCancelled;
      failText = CompressFailedText(CompressEnd::kTimedOut, 0);
      return CompressOutcome::kFailed;
    }
  }
  uint32_t code = 1;
  if (!ChildExitCode(child, code)) code = 1;
  if (code == 0) return CompressOutcome::kDone;
  failText = CompressFailedText(CompressEnd::kExited, code);
  return CompressOutcome::kFailed;
}

}  // namespace

void SetCompressTimeoutForTest(unsigned timeoutMs) {
  g_compressTimeoutMs = timeoutMs ? timeoutMs : kCompressTimeoutMs;
}

void SetCompressionCancelled(bool cancelled) { g_compressCancelled = cancelled; }

std::vector<std::wstring> PowerShellCompressArguments(const std::wstring& powershell) {
  // -LiteralPath, not -Path: -Path treats [ ] * ? in a folder name as wildcards,
  // so "photos [2023]" would fail or, worse, compress a sibling folder.
  return {powershell, L"-NoProfile", L"-NonInteractive", L"-Command",
          std::wstring(L"Compress-Archive -LiteralPath $env:") + kCompressFolderVar +
              L" -DestinationPath $env:" + kCompressArchiveVar + L" -Force"};
}

std::vector<std::wstring> CompressorEnvironment(const std::wstring& folder,
                                                const std::wstring& archive) {
  return {std::wstring(kCompressFolderVar) + L"=" + folder,
          std::wstring(kCompressArchiveVar) + L"=" + archive};
}

bool WouldFitFreeCap(int addFiles, int addFolders) {
  int files = 0;
  int folders = 0;
  CountHostedByKind(files, folders);
  files += addFiles;
  folders += addFolders;
  if (files > kMaxFiles || folders > kMaxFolders) return false;
  return !(files > 0 && folders > 0);
}

void OnPathsSelected(const std::vector<std::wstring>& paths) {
  if (paths.empty()) return;
  std::vector<std::wstring> kept;
  int files = 0;
  int folders = 0;
  for (const auto& path : paths) {
    bool isFolder = false;
    if (!ReadPathKind(path, isFolder)) continue;  // gone: dropped without a word
    if (isFolder)
      ++folders;
    else
      ++files;
    kept.push_back(path);
  }
  if (kept.empty()) {
    ShowBox(g_hMain, kNoneOpenedText, kMbIconWarning);
    return;
  }
  if (!WouldFitFreeCap(files, folders)) {
    ShowFreeTierBox(g_hMain);
    return;
  }
  const std::wstring text = SelectionText(kept, files, folders);
  g_pendingPaths = std::move(kept);
  ShellSetSelectionText(text);
  ShellEnableStart(true);
  SetStatus(kStatusChooseMode);
}

bool AddPath(const std::wstring& path, int mode, const std::string& customSlug, HWND hwnd) {
  bool isFolder = false;
  if (!ReadPathKind(path, isFolder)) {
    ShowBox(hwnd, kPathNotFoundText, kMbIconError);
    return false;
  }
  if (!isFolder) return AddHostedItem(path, mode, customSlug, hwnd, false, std::wstring());

  if (!WouldFitFreeCap(0, 1)) {
    ShowFreeTierBox(hwnd);
    return false;
  }
  std::wstring archive;
  std::wstring failText;
  ScopedFile hold;  // until the item holds the archive itself
  const CompressOutcome outcome = CompressFolder(path, archive, hold, failText);
  if (outcome != CompressOutcome::kDone) {
    if (!archive.empty()) DeleteFilePath(archive);
    if (outcome == CompressOutcome::kCancelled) return false;  // the program is stopping
    ShowBox(hwnd, failText.c_str(), kMbIconError);
    SetStatus(kStatusCompressFailed);
    return false;
  }
  return AddHostedItem(archive, mode, customSlug, hwnd, true, archive);
}

bool AddHostedItem(const std::wstring& path, int mode, const std::string& customSlug, HWND hwnd,
                   bool isFolder, const std::wstring& tempZip) {
  // A refusal before the item exists deletes the archive here (nothing else
  // would); once the item exists, its destructor does.
  auto refuse = [&](const wchar_t* text, unsigned icon) {
    if (!tempZip.empty()) DeleteFilePath(tempZip);
    ShowBox(hwnd, text, icon);
    return false;
  };

  bool pathIsFolder = false;
  if (!ReadPathKind(path, pathIsFolder)) return refuse(kFileNotFoundText, kMbIconError);
  if (pathIsFolder) return refuse(kFolderAsFileText, kMbIconError);
  if (!(isFolder ? WouldFitFreeCap(0, 1) : WouldFitFreeCap(1, 0))) {
    if (!tempZip.empty()) DeleteFilePath(tempZip);
    ShowFreeTierBox(hwnd);
    return false;
  }
  if (!customSlug.empty()) {
    const SlugResult r = CheckCustomSlug(customSlug);
    if (r != SlugResult::kOk) return refuse(SlugResultMessage(r), SlugResultIcon(r));
  }

  // An archive of ours is held with the right to delete it, and marked live so
  // that no other instance's start-up sweep takes it.
  ScopedFile lock(OpenFileShareRead(path, tempZip.empty() ? HoldKind::kRead : HoldKind::kReadAndDelete));
  if (!lock.valid() || (!tempZip.empty() && !HoldArchive(lock.get())))
    return refuse(kCannotLockText, kMbIconError);
  FileStamp stamp;
  if (!ReadFileStamp(lock.get(), stamp)) {
    lock.reset();
    return refuse(kNoSizeText, kMbIconError);
  }
  const uint64_t size = stamp.size;
  if (size > kMaxFileSize) {
    lock.reset();
    return refuse(kTooLargeText, kMbIconWarning);
  }
  SetServerNotice(SetStatus);  // the server's notices go to the status line
  if (!StartServerIfNeeded(hwnd)) {
    lock.reset();
    return refuse(kNoServerText, kMbIconError);
  }

  auto item = std::make_shared<HostedItem>();
  item->path = path;
  item->name = WstrToUtf8(PathLastComponent(path));
  item->size = size;
  item->stamp = stamp;
  item->fileHandle = lock.release();
  item->mode = mode == 0 ? 0 : 1;
  item->isFolder = isFolder;
  item->tempZip = tempZip;
  const int itemMode = item->mode;

  SlugResult chosen;
  {
    std::lock_guard<std::mutex> guard(g_hostedMtx);
    std::string slug;
    chosen = ChooseSlug_locked(customSlug, slug);
    if (chosen == SlugResult::kOk) {
      item->slug = slug;
      BuildItemUrl_locked(*item);
      AppendHosted_locked(item);
    }
  }
  if (chosen != SlugResult::kOk) {
    item.reset();  // closes the lock and deletes the archive
    ShowBox(hwnd, SlugResultMessage(chosen), SlugResultIcon(chosen));
    return false;
  }

  if (itemMode == 1) {
    SetStatus(kStatusLanReady);
  } else if (g_tunRunning) {
    if (g_tunReady) SetStatus(kStatusLinkReady);
  } else if (StartTunnelIfNeeded(hwnd)) {
    g_tunRetryLeft = kTunnelRestarts;
    SetStatus(kStatusTunnelStarting);
  } else {
    {
      std::lock_guard<std::mutex> guard(g_hostedMtx);
      item->mode = 1;
      BuildItemUrl_locked(*item);
    }
    SetStatus(kStatusNoClient);
  }
  if (g_serverRunning) RebindIfModeChanged();
  return true;
}
