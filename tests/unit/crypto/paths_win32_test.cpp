// Windows side of vh::paths: the roaming folder, the owner-only DACL as the
// file system stores it, and a failed move.
#include <gtest/gtest.h>

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "crypto/paths.h"
#include "crypto/paths_win32.h"
#include "net_client.h"

namespace {

namespace paths = vh::paths;
using Bytes = std::vector<uint8_t>;

std::wstring RoamingFolder() {
  PWSTR p = nullptr;
  std::wstring s;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &p))) s = p;
  CoTaskMemFree(p);
  return s;
}

// "type mask sid" per ACE, for failure messages.
std::string DescribeAcl(PACL acl) {
  std::string out;
  for (DWORD i = 0; i < acl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(acl, i, &ace)) continue;
    auto* a = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    LPSTR sid = nullptr;
    ConvertSidToStringSidA(reinterpret_cast<PSID>(&a->SidStart), &sid);
    char line[160];
    snprintf(line, sizeof line, "type %u flags %u mask 0x%08lx sid %s\n", a->Header.AceType,
             a->Header.AceFlags, static_cast<unsigned long>(a->Mask), sid ? sid : "?");
    LocalFree(sid);
    out += line;
  }
  return out;
}

TEST(PathsWin32, FolderIsUnderRoamingAppData) {
  const std::wstring roaming = RoamingFolder();
  ASSERT_FALSE(roaming.empty());
  EXPECT_EQ(paths::AppDataDir(), roaming + L"\\Vorn-Hale");
}

std::vector<uint8_t> TokenUserBuffer() {
  HANDLE token = nullptr;
  std::vector<uint8_t> buf;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return buf;
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  buf.resize(size);
  if (!GetTokenInformation(token, TokenUser, buf.data(), size, &size)) buf.clear();
  CloseHandle(token);
  return buf;
}

bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool IsFullAccess(ACCESS_MASK m) { return m == GENERIC_ALL || m == FILE_ALL_ACCESS; }

TEST(PathsWin32, OwnerOnlyAclGrantsEverythingToTheUserAlone) {
  const std::vector<uint8_t> tokenUser = TokenUserBuffer();
  ASSERT_FALSE(tokenUser.empty());
  PSID user = reinterpret_cast<const TOKEN_USER*>(tokenUser.data())->User.Sid;

  std::vector<uint8_t> bytes;
  ASSERT_TRUE(paths::OwnerOnlyAclBytes(bytes));
  auto* acl = reinterpret_cast<PACL>(bytes.data());
  EXPECT_EQ(acl->AclRevision, ACL_REVISION);  // 2
  EXPECT_EQ(acl->AclSize, GetLengthSid(user) + 16);
  ASSERT_EQ(acl->AceCount, 1) << DescribeAcl(acl);
  void* ace = nullptr;
  ASSERT_TRUE(GetAce(acl, 0, &ace));
  auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
  EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
  EXPECT_EQ(allowed->Header.AceFlags, 0);
  EXPECT_EQ(allowed->Mask, static_cast<ACCESS_MASK>(GENERIC_ALL));
  EXPECT_TRUE(EqualSid(user, reinterpret_cast<PSID>(&allowed->SidStart)));
}

TEST(PathsWin32, KeyFileDaclAsStored) {
  TempDir tmp;
  const std::wstring file = tmp.File(L"identity.key");
  const Bytes data(64, 0x42);
  ASSERT_TRUE(paths::WriteFileOwnerOnly(file, data.data(), data.size()));

  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_EQ(GetNamedSecurityInfoW(file.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, &dacl, nullptr, &sd),
            static_cast<DWORD>(ERROR_SUCCESS));
  std::unique_ptr<void, decltype(&LocalFree)> sdGuard(sd, &LocalFree);
  ASSERT_NE(dacl, nullptr);
  const std::vector<uint8_t> tokenUser = TokenUserBuffer();
  ASSERT_FALSE(tokenUser.empty());
  PSID user = reinterpret_cast<const TOKEN_USER*>(tokenUser.data())->User.Sid;

  // Windows keeps the DACL as written: one ACE. Wine keeps no DACL and
  // derives one from the Unix mode, adding SYSTEM: there, the user's ACE
  // must still be there and nobody but SYSTEM may appear beside it.
  if (!RunningUnderWine()) ASSERT_EQ(dacl->AceCount, 1) << DescribeAcl(dacl);
  BYTE systemSidBuf[SECURITY_MAX_SID_SIZE];
  DWORD systemSidSize = sizeof systemSidBuf;
  ASSERT_TRUE(CreateWellKnownSid(WinLocalSystemSid, nullptr, systemSidBuf, &systemSidSize));
  int userAces = 0;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    ASSERT_TRUE(GetAce(dacl, i, &ace));
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    ASSERT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE) << DescribeAcl(dacl);
    PSID sid = reinterpret_cast<PSID>(&allowed->SidStart);
    if (EqualSid(sid, user)) {
      ++userAces;
      EXPECT_TRUE(IsFullAccess(allowed->Mask)) << DescribeAcl(dacl);
    } else {
      EXPECT_TRUE(RunningUnderWine() && EqualSid(sid, systemSidBuf)) << DescribeAcl(dacl);
    }
  }
  EXPECT_EQ(userAces, 1) << DescribeAcl(dacl);
}

TEST(PathsWin32, FailedMoveKeepsTheEarlierFile) {
  TempDir tmp;
  const std::wstring file = tmp.File(L"identity.key");
  const Bytes before(64, 0x01);
  ASSERT_TRUE(paths::WriteFileOwnerOnly(file, before.data(), before.size()));
  // A reader that does not share deletion keeps the name from being replaced.
  HANDLE h = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  const Bytes after(64, 0x02);
  const bool ok = paths::WriteFileOwnerOnly(file, after.data(), after.size());
  CloseHandle(h);
  EXPECT_FALSE(ok);
  EXPECT_FALSE(PathExists(file + L".tmp"));
  EXPECT_EQ(ReadWholeFile(file), std::string(64, 0x01));
}

}  // namespace
