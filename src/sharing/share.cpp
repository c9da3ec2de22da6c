// Turning chosen paths into hosted items: the staged selection, the caps, the
// file lock and size limit, folder compression, and the item's insertion.
#include "sharing/share.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "core/links.h"
#include "core/registry.h"
#include "http/listener.h"
#include "platform/file.h"
#include "platform/fs.h"
#include "platform/module.h"
#include "platform/text.h"
#include "sharing/archive.h"
#include "sharing/compress.h"
#include "sharing/shell.h"
#include "text/slug.h"
#include "tunnel/supervisor.h"

namespace {
std::vector<std::wstring> g_pendingPaths;  // see StagedPaths

constexpr int kMaxFiles = 3;
constexpr int kMaxFolders = 1;
constexpr uint64_t kMaxFileSize = 1073741824;  // 1 GiB; the messages call it 1 GB
constexpr unsigned kCompressTimeoutMs = 600000;  // 10 minutes
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

// Compresses `folder` into a new archive. `archive` is set once this call
// has made the archive's file, so that the caller deletes only an archive of
// its own after a failure; `hold` keeps it marked live until the item holds
// it; `failText` says why it failed.
CompressOutcome CompressFolder(const std::wstring& folder, std::wstring& archive, ScopedFile& hold,
                               std::wstring& failText) {
  std::wstring name = PathLastComponent(folder);
  if (name.empty()) name = L"folder";
  const uint64_t tick = TickCountMs();
  const std::wstring dir = ArchiveFolder();

  ShellNote(StatusNote::kCompressing);
  ShellPumpMessages();
  failText = CompressFailedText(CompressEnd::kNoArchive, 0);
  if (dir.empty()) return CompressOutcome::kFailed;  // nothing of ours in a folder we cannot trust
  if (g_compressCancelled.load()) return CompressOutcome::kCancelled;
  archive = ReserveArchivePath(dir, name, tick, hold);
  if (archive.empty()) return CompressOutcome::kFailed;

  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(g_compressTimeoutMs.load());
  return CompressInto(folder, archive, [deadline] {
    if (g_compressCancelled.load()) return CompressStop::kCancelled;
    return std::chrono::steady_clock::now() >= deadline ? CompressStop::kTimedOut : CompressStop::kGoOn;
  }, kMaxFileSize, failText);
}

// A folder's temporary archive until its item exists: every refusal before
// that deletes it (before the box), and the item takes it over (HandOver),
// deleting it when it goes. Empty for a file.
struct PendingArchive {
  std::wstring path;
  PendingArchive() = default;
  PendingArchive(const PendingArchive&) = delete;
  PendingArchive& operator=(const PendingArchive&) = delete;
  ~PendingArchive() { Drop(); }
  void Drop() {
    if (!path.empty()) DeleteFilePath(std::exchange(path, std::wstring()));
  }
  std::wstring HandOver() { return std::exchange(path, std::wstring()); }
};

bool Refuse(PendingArchive& archive, HWND hwnd, const wchar_t* text, unsigned icon) {
  archive.Drop();
  ShowBox(hwnd, text, icon);
  return false;
}

// The checks before anything is opened: the path is a file, the free tier's
// caps hold with it, and a custom link is well formed and not reserved.
bool CheckNewShare(const std::wstring& path, ShareSource source, const std::string& customSlug,
                   PendingArchive& archive, HWND hwnd) {
  bool pathIsFolder = false;
  if (!ReadPathKind(path, pathIsFolder)) return Refuse(archive, hwnd, kFileNotFoundText, kMbIconError);
  if (pathIsFolder) return Refuse(archive, hwnd, kFolderAsFileText, kMbIconError);
  const bool folder = source == ShareSource::kFolderArchive;
  if (!(folder ? WouldFitFreeCap(0, 1) : WouldFitFreeCap(1, 0))) {
    archive.Drop();
    ShowFreeTierBox(hwnd);
    return false;
  }
  if (customSlug.empty()) return true;
  const SlugResult r = CheckCustomSlug(customSlug);
  return r == SlugResult::kOk || Refuse(archive, hwnd, SlugResultMessage(r), SlugResultIcon(r));
}

// Holds the file and reads its stamp, within the size cap. An archive of ours
// is held with the right to delete it, and marked live so that no other
// instance's start-up sweep takes it. A refusal closes the file first.
bool OpenShared(const std::wstring& path, PendingArchive& archive, ScopedFile& held, FileStamp& stamp,
                HWND hwnd) {
  const bool ours = !archive.path.empty();
  held.reset(OpenFileShareRead(path, ours ? HoldKind::kReadAndDelete : HoldKind::kRead));
  if (!held.valid() || (ours && !HoldArchive(held.get())))
    return held.reset(), Refuse(archive, hwnd, kCannotLockText, kMbIconError);
  if (!ReadFileStamp(held.get(), stamp)) return held.reset(), Refuse(archive, hwnd, kNoSizeText, kMbIconError);
  if (stamp.size > kMaxFileSize) return held.reset(), Refuse(archive, hwnd, kTooLargeText, kMbIconWarning);
  return true;
}

// The server runs (the first share starts it); its notices go to the status line.
bool EnsureServer(PendingArchive& archive, ScopedFile& held, HWND hwnd) {
  SetServerNotice(SetStatus);
  if (StartServerIfNeeded(hwnd, AnyHostedInMode(ShareMode::kLan)) == ServerStart::kRunning)
    return true;  // otherwise one text for every reason
  held.reset();
  return Refuse(archive, hwnd, kNoServerText, kMbIconError);
}

// The new item, holding the file and, from now on, the archive.
std::shared_ptr<HostedItem> MakeItem(const std::wstring& path, ShareMode mode, ScopedFile& held,
                                     const FileStamp& stamp, PendingArchive& archive) {
  auto item = std::make_shared<HostedItem>();
  item->path = path;
  item->name = WstrToUtf8(PathLastComponent(path));
  item->size = stamp.size;
  item->stamp = stamp;
  item->fileHandle = std::move(held);
  item->mode = mode;
  item->isFolder = !archive.path.empty();
  item->tempZip = archive.HandOver();
  return item;
}

// Chooses the item's link and appends it. A refusal drops the item (its file
// closes, its archive goes) before the box.
bool InsertItem(std::shared_ptr<HostedItem>& item, const std::string& customSlug, HWND hwnd) {
  SlugResult chosen = SlugResult::kOk;
  WithHostedLocked([&](HostedLock& lock) {
    std::string slug;
    chosen = ChooseSlug_locked(lock, customSlug, slug);
    if (chosen != SlugResult::kOk) return;
    item->slug = slug;
    BuildItemUrl_locked(lock, *item);
    AppendHosted_locked(lock, item);
  });
  if (chosen == SlugResult::kOk) return true;
  item.reset();
  ShowBox(hwnd, SlugResultMessage(chosen), SlugResultIcon(chosen));
  return false;
}

// How the new item is reached: a same-network link at once; an Internet one
// through the running tunnel, a tunnel started for it, or, without a tunnel
// client, a same-network link after all. Then the server binds for the mix.
void ConnectItem(HostedItem& item, HWND hwnd) {
  if (item.mode == ShareMode::kLan) {
    ShellNote(StatusNote::kLanReady);
  } else if (TunnelRunning()) {
    if (TunnelPublished()) ShellNote(StatusNote::kLinkReady);
  } else if (StartTunnelIfNeeded(hwnd)) {
    ArmTunnelRestarts();
    ShellNote(StatusNote::kTunnelStarting);
  } else {
    WithHostedLocked([&item](HostedLock& lock) {
      item.mode = ShareMode::kLan;
      BuildItemUrl_locked(lock, item);
    });
    ShellNote(StatusNote::kNoTunnelClient);
  }
  if (ServerRunning()) SetListenAllInterfaces(AnyHostedInMode(ShareMode::kLan));
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

const std::vector<std::wstring>& StagedPaths() { return g_pendingPaths; }
void SetStagedPaths(std::vector<std::wstring> paths) { g_pendingPaths = std::move(paths); }
std::vector<std::wstring> TakeStagedPaths() { return std::exchange(g_pendingPaths, {}); }

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
  SetStagedPaths(std::move(kept));
  ShellSetSelectionText(text);
  ShellEnableStart(true);
  ShellNote(StatusNote::kStaged);
}

bool AddPath(const std::wstring& path, ShareMode mode, const std::string& customSlug, HWND hwnd) {
  bool isFolder = false;
  if (!ReadPathKind(path, isFolder)) {
    ShowBox(hwnd, kPathNotFoundText, kMbIconError);
    return false;
  }
  if (!isFolder) return AddHostedItem(path, mode, customSlug, hwnd, ShareSource::kFile);

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
    if (outcome == CompressOutcome::kTooLarge) {  // as an archive that was finished would be
      ShowBox(hwnd, kTooLargeText, kMbIconWarning);
      return false;
    }
    ShowBox(hwnd, failText.c_str(), kMbIconError);
    ShellNote(StatusNote::kCompressFailed);
    return false;
  }
  return AddHostedItem(archive, mode, customSlug, hwnd, ShareSource::kFolderArchive);
}

bool AddHostedItem(const std::wstring& path, ShareMode mode, const std::string& customSlug, HWND hwnd,
                   ShareSource source) {
  PendingArchive archive;
  if (source == ShareSource::kFolderArchive) archive.path = path;
  ScopedFile held;
  FileStamp stamp;
  if (!CheckNewShare(path, source, customSlug, archive, hwnd) ||
      !OpenShared(path, archive, held, stamp, hwnd) || !EnsureServer(archive, held, hwnd))
    return false;
  std::shared_ptr<HostedItem> item = MakeItem(path, mode, held, stamp, archive);
  if (!InsertItem(item, customSlug, hwnd)) return false;
  ConnectItem(*item, hwnd);
  return true;
}
