// Compressing a shared folder into its temporary zip archive. Windows runs
// PowerShell's Compress-Archive as a hidden child process; POSIX writes the
// archive in this process (sharing/folder_zip.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The environment variables that carry the two paths to the compressor.
constexpr const wchar_t* kCompressFolderVar = L"VH_COMPRESS_FOLDER";
constexpr const wchar_t* kCompressArchiveVar = L"VH_COMPRESS_ARCHIVE";

// Windows: PowerShell's Compress-Archive, one command that takes both paths
// from the environment, so no folder name is ever parsed as code (PowerShell
// ends a single-quoted string at any of five quote characters). With
// `powershell` the program's path, the arguments joined give:
//   "POWERSHELL" -NoProfile -NonInteractive -Command "Compress-Archive
//   -LiteralPath $env:VH_COMPRESS_FOLDER -DestinationPath
//   $env:VH_COMPRESS_ARCHIVE -Force"
// Windows starts the system's own copy, GetSystemDirectoryW() +
// "\WindowsPowerShell\v1.0\powershell.exe", never one found by a search (a
// copy beside the program or in the current folder is not run).
std::vector<std::wstring> PowerShellCompressArguments(const std::wstring& powershell);

// The "NAME=value" entries the compressor is started with: the folder and the
// archive path under kCompressFolderVar and kCompressArchiveVar.
std::vector<std::wstring> CompressorEnvironment(const std::wstring& folder,
                                                const std::wstring& archive);

// What a compression under way is told when it asks whether to go on.
enum class CompressStop { kGoOn, kCancelled, kTimedOut };

// How a compression ended.
enum class CompressOutcome { kDone, kFailed, kCancelled, kTooLarge };

// Compresses `folder` into `archive` (a file ReserveArchivePath made), asking
// `stop` all along (Windows every 50 ms; POSIX before each entry and each
// 256 KiB read). kDone: a complete archive is there. kTooLarge
// (POSIX): the archive grew past `capBytes` and writing stopped. kFailed:
// `failText` says why. The caller deletes the archive after anything but
// kDone. Windows leaves the cap to the caller.
CompressOutcome CompressInto(const std::wstring& folder, const std::wstring& archive,
                             const std::function<CompressStop()>& stop, uint64_t capBytes,
                             std::wstring& failText);
