// Per-user folder and owner-only files on Windows: the roaming application
// data known folder, and files created with a DACL that grants GENERIC_ALL to
// the token's user and nobody else.
#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <memory>
#include <new>

#include "crypto/paths.h"
#include "crypto/paths_os.h"
#include "crypto/paths_win32.h"
#include "platform/owned.h"

namespace vh::paths {

namespace {

constexpr DWORD kAceExtraBytes = 16;  // ACL header (8) + ACCESS_ALLOWED_ACE without SidStart (8)

using Handle = Owned<HANDLE, static_cast<HANDLE>(nullptr), CloseHandle>;

// CreateFileW reports failure as INVALID_HANDLE_VALUE, the owner's "none" is NULL.
HANDLE NoneIfInvalid(HANDLE h) { return h == INVALID_HANDLE_VALUE ? nullptr : h; }

// The owner-only descriptor and the buffers it points into.
struct OwnerOnlySecurity {
  std::unique_ptr<uint8_t[]> tokenUser;
  std::unique_ptr<uint8_t[]> acl;
  SECURITY_DESCRIPTOR sd{};
  SECURITY_ATTRIBUTES sa{};
};

bool BuildOwnerOnlySecurity(OwnerOnlySecurity& s) {
  Handle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.out())) return false;
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  if (size == 0) return false;
  s.tokenUser.reset(new (std::nothrow) uint8_t[size]());
  if (!s.tokenUser) return false;
  if (!GetTokenInformation(token.get(), TokenUser, s.tokenUser.get(), size, &size)) return false;
  token.reset();

  PSID sid = reinterpret_cast<TOKEN_USER*>(s.tokenUser.get())->User.Sid;
  const DWORD aclSize = GetLengthSid(sid) + kAceExtraBytes;
  s.acl.reset(new (std::nothrow) uint8_t[aclSize]());
  if (!s.acl) return false;
  PACL acl = reinterpret_cast<PACL>(s.acl.get());
  if (!InitializeAcl(acl, aclSize, ACL_REVISION)) return false;
  if (!AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, sid)) return false;
  if (!InitializeSecurityDescriptor(&s.sd, SECURITY_DESCRIPTOR_REVISION)) return false;
  if (!SetSecurityDescriptorDacl(&s.sd, TRUE, acl, FALSE)) return false;
  s.sa.nLength = sizeof s.sa;
  s.sa.lpSecurityDescriptor = &s.sd;
  s.sa.bInheritHandle = FALSE;
  return true;
}

}  // namespace

std::wstring SystemBaseDir() {
  PWSTR p = nullptr;
  const HRESULT hr = SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &p);
  std::wstring dir;
  if (SUCCEEDED(hr) && p) dir = p;
  CoTaskMemFree(p);
  return dir;
}

bool MakeDirectory(const std::wstring& dir) {
  if (CreateDirectoryW(dir.c_str(), nullptr)) return true;
  if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
  // The name may be taken by a file, which is no folder to keep keys in.
  const DWORD attrs = GetFileAttributesW(dir.c_str());
  return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool OwnerOnlyAclBytes(std::vector<uint8_t>& out) {
  OwnerOnlySecurity sec;
  if (!BuildOwnerOnlySecurity(sec)) return false;
  const ACL* acl = reinterpret_cast<const ACL*>(sec.acl.get());
  out.assign(sec.acl.get(), sec.acl.get() + acl->AclSize);
  return true;
}


bool WriteFileOwnerOnly(const std::wstring& path, const uint8_t* data, uint64_t len) {
  if (len > 0xFFFFFFFFull) return false;  // one WriteFile call takes a 32-bit length
  OwnerOnlySecurity sec;
  if (!BuildOwnerOnlySecurity(sec)) return false;

  const std::wstring tmp = path + kTempSuffix;
  Handle file(NoneIfInvalid(CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, &sec.sa, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr)));
  if (!file.valid()) return false;

  DWORD written = 0;
  // Flushed before the rename: otherwise a power cut can leave the target
  // name on an empty file.
  const bool ok = WriteFile(file.get(), data, static_cast<DWORD>(len), &written, nullptr) &&
                  written == len && FlushFileBuffers(file.get());
  const bool closed = CloseHandle(file.release()) != FALSE;
  if (!ok || !closed) {
    DeleteFileW(tmp.c_str());
    return false;
  }
  if (!MoveFileExW(tmp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileW(tmp.c_str());
    return false;
  }
  return true;
}

bool MoveFileReplacing(const std::wstring& from, const std::wstring& to) {
  return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) !=
         FALSE;
}

bool ReadFileAll(const std::wstring& path, std::vector<uint8_t>& out) {
  Handle file(NoneIfInvalid(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)));
  if (!file.valid()) return false;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 ||
      static_cast<uint64_t>(size.QuadPart) > kReadLimit)
    return false;
  std::vector<uint8_t> buf(static_cast<size_t>(size.QuadPart), 0);
  if (buf.empty()) {
    out.clear();
    return true;
  }
  DWORD got = 0;
  if (!ReadFile(file.get(), buf.data(), static_cast<DWORD>(buf.size()), &got, nullptr) ||
      got != buf.size())
    return false;
  out.swap(buf);
  return true;
}

}  // namespace vh::paths
