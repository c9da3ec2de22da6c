// The command line of the outside program that compresses a folder into a zip
// archive. Exit code 0 means a complete archive now exists at the destination.
#pragma once

#include <string>
#include <vector>

// The environment variables that carry the two paths to the compressor.
constexpr const wchar_t* kCompressFolderVar = L"VH_COMPRESS_FOLDER";
constexpr const wchar_t* kCompressArchiveVar = L"VH_COMPRESS_ARCHIVE";

// Windows: PowerShell's Compress-Archive, one double-quoted command that takes
// both paths from the environment, so no folder name is ever parsed as code
// (PowerShell ends a single-quoted string at any of five quote characters):
//   powershell.exe -NoProfile -NonInteractive -Command "Compress-Archive
//   -LiteralPath $env:VH_COMPRESS_FOLDER -DestinationPath
//   $env:VH_COMPRESS_ARCHIVE -Force"
std::wstring PowerShellCompressCommand();

// The "NAME=value" entries the compressor is started with: the folder and the
// archive path under kCompressFolderVar and kCompressArchiveVar. Info-ZIP
// (POSIX) takes its paths from its command line and ignores them.
std::vector<std::wstring> CompressorEnvironment(const std::wstring& folder,
                                                const std::wstring& archive);

// The command line this system runs: PowerShellCompressCommand on Windows; on
// POSIX Info-ZIP run inside the folder on a list of names written beside the
// archive (archive + ".names", removed by the command as it starts): the
// archive holds the folder's files, a link to a regular file inside the
// folder as a copy of that file under the link's name, and no other link
// (each reported through g_reportLeftOutLink, sharing/archive.h). An empty
// folder gives an empty archive.
std::wstring CompressorCommandLine(const std::wstring& folder, const std::wstring& archive);
