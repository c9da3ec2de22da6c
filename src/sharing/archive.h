// Temporary archives of shared folders: the private folder they live in, a
// name that no other running instance holds, and what the user is told when
// compression fails.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file.h"

// The folder for temporary archives, created when missing; empty when none
// can be had. Windows: "vornhale" in the user's temporary folder. POSIX:
// $TMPDIR (else /tmp) + "/vornhale-<uid>", which must be a folder (not a
// link) owned by this user and is tightened to 0700; when another account
// holds that name, a new private folder beside it (mkdtemp) serves this
// process instead.
std::wstring ArchiveFolder();

// Removes the folder that ArchiveFolder made for this process alone, once it
// is empty (POSIX; nothing on Windows). Call when the program ends.
void ReleaseArchiveFolder();

// The path of a new archive in `folder`: stem + "_" + number + ".zip", the
// number starting at `tick`. POSIX: the file is created empty and exclusively
// (O_CREAT | O_EXCL, mode 0600), so two instances never write one archive; a
// taken name moves on to the next number. `hold` then keeps the file marked
// live (HoldArchive) until the item holds it itself; a sweep that deleted the
// file before it was marked is noticed and another name is taken. Windows:
// the name is only composed (one instance per login; the compressor creates
// the file) and `hold` stays empty. Empty when no file could be created.
std::wstring ReserveArchivePath(const std::wstring& folder, const std::wstring& stem, uint64_t tick,
                                ScopedFile& hold);

// Marks an open archive as live, so that no sweep (SweepLeftArchives, of any
// instance) deletes it while this handle is open. POSIX: a shared flock,
// waiting while a sweep holds the file. Windows: nothing to do (an open file
// cannot be deleted). False when the mark could not be set.
bool HoldArchive(FileHandle h);

// At start-up: deletes the archives an earlier run left in the archive folder
// (after a crash, a kill, a power cut), except those another running instance
// still holds. POSIX: "*.zip" files in $TMPDIR/vornhale-<uid> that can be
// locked exclusively (no live mark) and still carry the name they were locked
// under. Windows: "*.zip" files in the "vornhale" temporary folder that
// DeleteFileW can delete (an open archive cannot be). The number deleted.
int SweepLeftArchives();

// How a compression that did not succeed ended: no archive file could be
// made, the compressor did not start (POSIX: the folder could not be opened),
// it was still running after the longest wait, it exited with a code other
// than 0 (Windows), or the archive could not be written (POSIX).
enum class CompressEnd { kNoArchive, kNotStarted, kTimedOut, kExited, kWriteFailed };

// The message box text for a failed compression. Windows names PowerShell's
// Compress-Archive; POSIX says what failed, with the system's words for
// `code` (an errno value) where it is not 0.
std::wstring CompressFailedText(CompressEnd how, uint32_t code);
