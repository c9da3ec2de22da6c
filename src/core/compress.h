// The command line of the outside program that compresses a folder into a zip
// archive. Exit code 0 means a complete archive now exists at the destination.
#pragma once

#include <string>

// Windows: PowerShell's Compress-Archive, both paths as single-quoted
// PowerShell strings (single quotes doubled) inside one double-quoted command:
//   powershell.exe -NoProfile -NonInteractive -Command "Compress-Archive
//   -LiteralPath '<folder>' -DestinationPath '<archive>' -Force"
std::wstring PowerShellCompressCommand(const std::wstring& folder, const std::wstring& archive);

// The command line this system runs: PowerShellCompressCommand on Windows; on
// POSIX Info-ZIP run inside the folder on a list of names written beside the
// archive (archive + ".names", removed by the command as it starts): the
// archive holds the folder's files, a link to a regular file inside the
// folder as a copy of that file under the link's name, and no other link
// (each reported through g_reportLeftOutLink, core/archive.h). An empty
// folder gives an empty archive.
std::wstring CompressorCommandLine(const std::wstring& folder, const std::wstring& archive);
