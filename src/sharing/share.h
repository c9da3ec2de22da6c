// Turning chosen paths into hosted items: the staged selection, the caps, and
// sharing one path (a file directly, a folder as a temporary zip archive).
// Everything here runs on the GUI thread.
#pragma once

#include <string>
#include <vector>

#include "core/share_mode.h"
#include "platform/types.h"

// The paths accepted by the last selection, waiting for Start Sharing (this
// file's own; front end's thread only). SetStagedPaths stages a batch as it
// is, without the checks; TakeStagedPaths leaves none staged.
const std::vector<std::wstring>& StagedPaths();
void SetStagedPaths(std::vector<std::wstring> paths);
std::vector<std::wstring> TakeStagedPaths();

// Checks a batch (drops missing paths, applies the caps) and stages it.
void OnPathsSelected(const std::vector<std::wstring>& paths);
// Whether the hosted items plus the given numbers stay within the caps
// (3 files or 1 folder, never both).
bool WouldFitFreeCap(int addFiles, int addFolders);
// Shares one staged path in `mode`. customSlug is UTF-8,
// already trimmed, empty for a random link. True when an item was created.
bool AddPath(const std::wstring& path, ShareMode mode, const std::string& customSlug, HWND hwnd);

// What AddHostedItem shares: a file as it is, or a folder's temporary archive
// (the item deletes it when it goes; a refusal before the item exists, here).
enum class ShareSource { kFile, kFolderArchive };

// Checks, holds and shares `path` as one item: the server runs, the item gets
// its link, and an Internet item the tunnel (started or reused). On a refusal
// the box says why and false comes back.
bool AddHostedItem(const std::wstring& path, ShareMode mode, const std::string& customSlug, HWND hwnd,
                   ShareSource source);

// Tests: the longest wait for the folder compressor in ms (0 restores the
// 10 minutes).
void SetCompressTimeoutForTest(unsigned timeoutMs);

// Stops a folder compression under way, and any later one, at once: the
// compressor is ended, its archive deleted, and nothing is reported (AddPath
// returns false). For a program that is stopping; false lets compressions run
// again.
void SetCompressionCancelled(bool cancelled);
