// Windows side of vh::paths: the roaming folder, the owner-only DACL as the
// file system stores it, and a failed move.
#include <gtest/gtest.h>

#include <windows.h>
#include <aclapi.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <memory>
#include <string>
#include <vector>

#include "crypto/paths.h"
#include "crypto/paths_win32.h"
#include "net_client.h"

namespace {

namespace paths = vh::paths;
using Bytes = std::vector<uint8_t>;

TEST(PathsWin32, FolderIsUnderRoamingAppData) {
  PWSTR p = nullptr;
  ASSERT_TRUE(SUCCEEDED(SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &p)));
  const std::wstring roaming = p;
  CoTaskMemFree(p);
  EXPECT_EQ(paths::AppDataDir(), roaming + L"\\Vorn-Hale");
}

PSID TokenUserSid(std::vector<uint8_t>& buf) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
  buf.resize(256);
  DWORD size = 0;
  const bool got = GetTokenInformation(token, TokenUser, buf.data(), 256, &size);
  CloseHandle(token);
  return got ? reinterpret_cast<const TOKEN_USER*>(buf.data())->User.Sid : nullptr;
}

// The ACL as built: Wine does not keep a file's DACL, so only this shows it there.
TEST(PathsWin32, OwnerOnlyAclGrantsEverythingToTheUserAlone) {
  std::vector<uint8_t> tokenUser, bytes;
  PSID user = TokenUserSid(tokenUser);
  ASSERT_NE(user, nullptr);
  ASSERT_TRUE(paths::OwnerOnlyAclBytes(bytes));
  auto* acl = reinterpret_cast<PACL>(bytes.data());
  EXPECT_EQ(acl->AclRevision, ACL_REVISION);
  EXPECT_EQ(acl->AclSize, GetLengthSid(user) + 16);
  ASSERT_EQ(acl->AceCount, 1);
  void* ace = nullptr;
  ASSERT_TRUE(GetAce(acl, 0, &ace));
  auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
  EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
  EXPECT_EQ(allowed->Header.AceFlags, 0);
  EXPECT_EQ(allowed->Mask, static_cast<ACCESS_MASK>(GENERIC_ALL));
  EXPECT_TRUE(EqualSid(user, reinterpret_cast<PSID>(&allowed->SidStart)));
}

TEST(PathsWin32, KeyFileDaclGrantsEverythingToTheUserAlone) {
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
  std::vector<uint8_t> tokenUser;
  PSID user = TokenUserSid(tokenUser);
  ASSERT_NE(user, nullptr);
  // Windows keeps the DACL as written: one ACE. Wine keeps none and derives
  // one from the Unix mode, adding SYSTEM beside the user.
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const bool wine = ntdll && GetProcAddress(ntdll, "wine_get_version");
  if (!wine) {
    EXPECT_EQ(dacl->AceCount, 1);
  }
  BYTE system[SECURITY_MAX_SID_SIZE];
  DWORD systemSize = sizeof system;
  ASSERT_TRUE(CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &systemSize));
  int userAces = 0;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    ASSERT_TRUE(GetAce(dacl, i, &ace));
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    ASSERT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE) << i;
    PSID sid = reinterpret_cast<PSID>(&allowed->SidStart);
    if (EqualSid(sid, user)) {
      ++userAces;
      EXPECT_TRUE(allowed->Mask == GENERIC_ALL || allowed->Mask == FILE_ALL_ACCESS) << allowed->Mask;
    } else {
      EXPECT_TRUE(wine && EqualSid(sid, system)) << i;
    }
  }
  EXPECT_EQ(userAces, 1);
}

TEST(PathsWin32, FailedMoveKeepsTheEarlierFile) {
  TempDir tmp;
  const std::wstring file = tmp.File(L"identity.key");
  const Bytes before(64, 0x01), after(64, 0x02);
  ASSERT_TRUE(paths::WriteFileOwnerOnly(file, before.data(), before.size()));
  // A reader that does not share deletion keeps the name from being replaced.
  HANDLE h = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  const bool ok = paths::WriteFileOwnerOnly(file, after.data(), after.size());
  CloseHandle(h);
  EXPECT_FALSE(ok);
  EXPECT_FALSE(PathExists(file + L".tmp"));
  EXPECT_EQ(ReadWholeFile(file), std::string(64, 0x01));
}

}  // namespace
