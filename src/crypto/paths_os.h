// What paths.cpp needs from the operating system.
#pragma once

#include <string>

namespace vh::paths {

// The user's base folder for per-user program data (no trailing separator),
// or empty.
std::wstring SystemBaseDir();
// Creates the directory (owner-only where the system has modes); true when it
// exists afterwards.
bool MakeDirectory(const std::wstring& dir);

}  // namespace vh::paths
