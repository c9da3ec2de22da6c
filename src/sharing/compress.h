// The program and arguments of the outside program that compresses a folder
// into a zip archive. Exit code 0 means a complete archive now exists at the
// destination.
#pragma once

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
std::vector<std::wstring> PowerShellCompressArguments(const std::wstring& powershell);

// The "NAME=value" entries the compressor is started with: the folder and the
// archive path under kCompressFolderVar and kCompressArchiveVar. Info-ZIP
// (POSIX) takes its paths from its command line and ignores them.
std::vector<std::wstring> CompressorEnvironment(const std::wstring& folder,
                                                const std::wstring& archive);

// What this system runs. Windows: PowerShellCompressArguments for the system's
// own copy, GetSystemDirectoryW() + "\WindowsPowerShell\v1.0\powershell.exe",
// never one found by a search (a copy beside the program or in the current
// folder is not run); an empty program name when the system folder cannot be
// read, which fails the start. POSIX: Info-ZIP run inside the folder on a list
// of names written beside the archive (archive + ".names", removed by the
// command as it starts): the archive holds the folder's files, a link to a
// regular file inside the folder as a copy of that file under the link's
// name, and no other link (each reported through g_reportLeftOutLink,
// sharing/archive.h). An empty folder gives an empty archive.
std::vector<std::wstring> CompressorArguments(const std::wstring& folder, const std::wstring& archive);
