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
// POSIX Info-ZIP run inside the folder (the archive holds the folder's files,
// symbolic links stored as links, never followed out of the folder).
std::wstring CompressorCommandLine(const std::wstring& folder, const std::wstring& archive);
