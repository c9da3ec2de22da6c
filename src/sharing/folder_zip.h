// A folder written as a zip archive by this process (POSIX only).
//
// The walk never follows a path twice: every entry is opened relative to its
// parent folder's descriptor without following links, so nothing renamed or
// swapped meanwhile leads outside the folder. Regular files are stored with
// their bytes; a link is stored as a copy of its target when that resolves
// beneath the folder to a regular file; everything else is left out and
// reported. A file is read completely (into memory, or a nameless temporary
// file beside the archive when large) and checked unchanged (size, change and
// modification times) before its entry is written, so an entry never holds
// cut or mixed bytes. Entries are named "FOLDER/..." (the folder's last
// component, "folder" for a root) in UTF-8 with the UTF-8 flag, deflated;
// folders get entries of their own except the top one, so an empty folder
// gives the 22-byte empty archive. Zip64 records appear where the counts need
// them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "sharing/compress.h"  // CompressStop
#include "sharing/shell.h"     // SkipReason

// Folder levels below the shared folder that are archived; deeper ones, and
// entries whose name in the archive would pass 4095 bytes, are left out as
// too deep.
constexpr int kZipMaxDepth = 128;

struct FolderZipHooks {
  uint64_t capBytes = 0;                    // the archive may not grow past this
  std::function<CompressStop()> stop;       // asked before each entry and each 256 KiB
  std::function<void(const std::string& path, SkipReason why, int error)> skipped;
  std::function<void(uint64_t files, uint64_t bytes, bool finished)> progress;
  // Links are resolved by walking descriptors, as where openat2 is missing
  // or filtered (tests set it to run that path here).
  bool resolveByWalk = false;
};

enum class ZipEnd { kDone, kCancelled, kTimedOut, kTooLarge, kNoFolder, kWriteFailed };

// Writes the archive of `folder` (UTF-8 path; a link there is followed, as
// the user chose it) into the existing file `archive` (truncated; opened
// without following a link). kNoFolder and kWriteFailed set `error` (errno).
// Whatever the end, the archive is left for the caller to delete.
ZipEnd WriteFolderZip(const std::string& folder, const std::string& archive,
                      const FolderZipHooks& hooks, int& error);
