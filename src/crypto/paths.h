// The program's per-user folder, and small files in it that only the current
// user may read or write.
//
// Windows: the roaming application-data known folder + "\Vorn-Hale"; files
// carry a DACL with one ACE granting GENERIC_ALL to the token's user.
// POSIX: $XDG_CONFIG_HOME/Vorn-Hale, or ~/.config/Vorn-Hale (folder 0700,
// files 0600).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vh::paths {

constexpr uint64_t kReadLimit = 1048576;  // ReadFileAll refuses larger files
constexpr const wchar_t* kAppFolderName = L"Vorn-Hale";
constexpr const wchar_t* kTempSuffix = L".tmp";

// The folder path, or empty when the user's base folder cannot be resolved.
std::wstring AppDataDir();
// AppDataDir() once the folder exists (created if needed), or empty.
std::wstring EnsureAppDataDir();
// dir + separator + name; dir is passed without a trailing separator.
std::wstring Join(const std::wstring& dir, const wchar_t* name);
// Writes path + ".tmp" owner-only, flushes it to disk and moves it over path.
// On failure the earlier file at path is unchanged and no ".tmp" is left
// (unless the temporary file could not be created at all).
bool WriteFileOwnerOnly(const std::wstring& path, const uint8_t* data, uint64_t len);
// Renames `from` to `to` in the same folder, replacing a file at `to`, and
// makes the rename durable (write-through / the folder synced) before it
// returns. False when the rename failed (both names as they were) or could
// not be made durable.
bool MoveFileReplacing(const std::wstring& from, const std::wstring& to);
// Whole file into out; false (out untouched) when it cannot be opened or is
// larger than kReadLimit.
bool ReadFileAll(const std::wstring& path, std::vector<uint8_t>& out);

// Tests point the program's folder elsewhere (AppDataDir returns dir as it
// is); an empty dir restores the user's folder. Not thread-safe: call before
// anything uses the folder.
void SetAppDataDirForTest(const std::wstring& dir);

}  // namespace vh::paths
