// Sharing through the recording shell, no tunnel client found: caps, refusals, Start Sharing, Stop, messages.
#include <filesystem>
#include <fstream>
#include <regex>

#include "platform/fs.h"
#include "platform/command_line.h"
#include "platform/module.h"
#include "recording_shell.h"
#include "sharing/compress.h"
#include "sharing/session.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {
std::wstring Folder(const TempDir& dir, const std::wstring& name) {
  return std::filesystem::create_directory(dir.File(name)), dir.File(name);
}
const wchar_t kLanReady[] = L"LAN link ready and copied to clipboard.";
const wchar_t kFreeTier[] = L"You've reached the free-tier sharing limit.\n\n   Free plan:  up to 3 files  OR  1 "
    L"folder per session.\n   Premium:    unlimited files, mixed batches, larger size cap.\n\nStop or remove an "
    L"existing share to add another, or stay tuned - Premium is coming soon.";
using Share = ShareTest;

TEST(PathLastComponent, Table) {
  const std::pair<std::wstring, std::wstring> cases[] = {{L"/", L""}, {L"/home/u/photos//", L"photos"},
#ifdef _WIN32
      {L"C:\\", L""}, {L"C:a.txt", L"a.txt"}, {L"\\\\server\\share\\dir", L"dir"}, {L"C:/mixed\\sep/x", L"x"}};
#else
      {L"/home/u/back\\slash", L"back\\slash"}};  // a plain character here
#endif
  for (const auto& [path, want] : cases) EXPECT_EQ(PathLastComponent(path), want) << WstrToUtf8(path);
}

// No path ever enters the command: PowerShell reads both from the environment.
TEST(PowerShellCompressArguments, PathsTravelInTheEnvironment) {
  EXPECT_EQ(JoinCommandLine(PowerShellCompressArguments(L"C:\\windows\\system32\\WindowsPowerShell\\v1.0\\powershell.exe")),
            L"\"C:\\windows\\system32\\WindowsPowerShell\\v1.0\\powershell.exe\" -NoProfile -NonInteractive -Command "
            L"\"Compress-Archive -LiteralPath $env:VH_COMPRESS_FOLDER -DestinationPath $env:VH_COMPRESS_ARCHIVE -Force\"");
}

// Hosted files and folders, selected ones, staged or not; refused: the free-tier box, the earlier batch kept.
TEST_F(Share, SelectionCapsTextsAndMissingPaths) {
  const int cases[][5] = {{0, 0, 3, 0, 1}, {0, 0, 4, 0, 0}, {1, 0, 2, 0, 1}, {1, 0, 3, 0, 0},
                          {0, 0, 0, 1, 1}, {0, 1, 0, 1, 0}, {0, 0, 1, 1, 0}, {0, 1, 1, 0, 0}};
  TempDir dir;
  const std::wstring previous = dir.Write(L"previous.txt", "p");
  for (const auto& [hostedFiles, hostedFolders, files, folders, staged] : cases) {
    SCOPED_TRACE(testing::Message() << hostedFiles << hostedFolders << files << folders);
    ClearHosted();
    for (int i = 0; i < hostedFiles; ++i) ASSERT_TRUE(AddHostedItem(dir.Write(L"h", "h"), ShareMode::kLan, "", hwnd_, ShareSource::kFile));
    ASSERT_TRUE(!hostedFolders || AddHostedItem(dir.Write(L"z.zip", "PK"), ShareMode::kLan, "", hwnd_, ShareSource::kFolderArchive));
    SetStagedPaths({previous});
    TestShell().Clear();
    std::vector<std::wstring> batch;
    for (int i = 0; i < files + folders; ++i)
      batch.push_back(i < files ? dir.Write(L"f" + std::to_wstring(i), "x") : Folder(dir, L"d" + std::to_wstring(i)));
    OnPathsSelected(batch);
    ExpectBox(staged ? L"" : kFreeTier, kMbIconInformation, kCaptionPremium);
    EXPECT_EQ(StagedPaths(), staged ? batch : std::vector<std::wstring>{previous});
    EXPECT_EQ(TestShell().LastStatus() + (TestShell().startEnabled ? L"+" : L""),
              staged ? L"Choose a mode, then click Start Sharing.+" : L"");
  }
  ClearHosted();
  const std::wstring file = dir.Write(L"a", "x"), missing = dir.File(L"b");
  const std::wstring longFile = dir.Write(std::wstring(250, L'n'), "");
  const std::pair<std::vector<std::wstring>, std::wstring> texts[] = {
      {{Folder(dir, L"Holiday photos") + kPathSeparator}, L"Selected folder: Holiday photos"},
      {{longFile}, L"Selected file: " + std::wstring(200, L'n')},
      {{file, missing, longFile, L""}, L"Selected 2 items (2 file(s), 0 folder(s))"}};
  for (const auto& [batch, want] : texts) {
    OnPathsSelected(batch);
    EXPECT_EQ(TestShell().selection, want);
  }
  TestShell().Clear();  // nothing left: a warning and the batch before stays; an empty batch does nothing
  OnPathsSelected({missing, L""});
  OnPathsSelected({});
  ExpectBox(L"None of the dropped paths could be opened.", kMbIconWarning);
  EXPECT_EQ(StagedPaths().size() + TestShell().startEnabled, 2u);
}

TEST_F(Share, LanItemsAndCaps) {
  TempDir dir;
  const std::wstring f = WriteFileAt(dir.path() + kPathSeparator + L"notes \xe9t\xe9.txt", "hello");
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(AddPath(f, ShareMode::kLan, "", hwnd_));  // the same file thrice: three items
  ExpectBox(L"");
  const auto item = Item(0);
  EXPECT_EQ(item->name + std::to_string(item->size), "notes \xc3\xa9t\xc3\xa9.txt5");
  EXPECT_TRUE(std::regex_match(item->slug, std::regex("[a-z0-9]{12}")) && item->slug != Item(1)->slug);
  EXPECT_EQ(TestShell().LastStatus(), kLanReady);
  EXPECT_TRUE(ListeningOnAllInterfaces());  // a same-network item: all interfaces
  EXPECT_EQ(FetchBody(item->slug), "hello");
  for (const std::wstring& more : {f, Folder(dir, L"folder")}) {  // refused before anything is compressed
    TestShell().Clear();
    EXPECT_FALSE(AddPath(more, ShareMode::kLan, "", hwnd_));
    ExpectBox(kFreeTier, kMbIconInformation, kCaptionPremium);
    EXPECT_EQ(TestShell().pumps + Statuses().size(), 0u);
  }
  ClearHosted();
  bool isFolder = true;
  EXPECT_TRUE(ReadPathKind(f, isFolder));  // a shared file is never deleted
}

// Exactly 1 GiB is shared, one byte more refused (sparse files).
TEST_F(Share, RefusalsLeaveTheRegistryUnchanged) {
  TempDir dir;
  const std::wstring f = dir.Write(L"exact.bin", ""), over = dir.Write(L"over.bin", "");
  std::filesystem::resize_file(f, 1073741824u);
  std::filesystem::resize_file(over, 1073741825u);
  ASSERT_TRUE(AddPath(f, ShareMode::kLan, "taken-link", hwnd_));
#ifdef _WIN32
  const std::wstring odd = dir.Write(L"busy.txt", "busy");
  std::ofstream writer(std::filesystem::path(odd), std::ios::app);  // someone is writing it
#else
  const std::wstring odd = dir.File(L"fifo");  // neither a file nor a folder: refused at once, never waited on
  ASSERT_EQ(mkfifo(WstrToUtf8(odd).c_str(), 0600), 0);
#endif
  const struct { std::wstring path; std::string custom; std::wstring text; unsigned icon; } cases[] = {
               {dir.File(L"nope"), "", L"Path not found.", kMbIconError},
               {f, "Admin", L"That custom link is reserved. Choose a different one.", kMbIconWarning},
               {f, "taken-link", L"That custom link is already in use. Choose a different one.", kMbIconWarning},
               {over, "", L"File exceeds the 1 GB limit for the free tier.", kMbIconWarning},
               {odd, "", L"Cannot lock the file for sharing. Close it in any other app and try again.", kMbIconError}};
  for (const auto& c : cases) {
    SCOPED_TRACE(WstrToUtf8(c.path) + " " + c.custom);
    TestShell().Clear();
    EXPECT_FALSE(AddPath(c.path, ShareMode::kLan, c.custom, hwnd_));
    ExpectBox(c.text, c.icon);
    EXPECT_EQ(HostedCount() + Statuses().size(), 1u);
  }
}

TEST_F(Share, StartSharingAndTheLatestLink) {
  TempDir empty, dir;
  ScopedEnv path("PATH", WstrToUtf8(empty.path()));  // no tunnel client anywhere
  const std::wstring a = dir.Write(L"a.txt", "a"), b = dir.Write(L"b.txt", "b");
  using V = std::vector<std::wstring>;
  constexpr ShareMode kLan = ShareMode::kLan, kInet = ShareMode::kInternet;
  const struct { V staged; ShareMode mode; std::string typed; bool stop; int want; std::wstring box; V statuses; } cases[] = {
      {{}, kLan, "", false, -1, L"", {}},
      {{a, b}, kLan, " my-link", false, -1, L"Custom link can only be set when sharing a single item.\nClear the "
                                         L"custom link to share multiple items at once.", {}},
      {{a}, kLan, " \tmy-link\t ", false, 1, L"", {kLanReady}},
      {{a}, kLan, "\nmy-link", false, 0, L"Custom link must be 3 to 32 characters and contain only letters, digits, "
                                      L"hyphens, or underscores.", {}},  // only spaces and tabs are trimmed
      {{a, b}, kLan, " \t", false, 2, L"", {kLanReady, kLanReady}},
      {{a, b}, kLan, "", true, 0, L"", {}},
      {{a}, kInet, "", false, 1, L"", {L"cloudflared.exe missing using LAN link instead."}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed + std::to_string(c.want));
    ClearHosted();
    TestShell().Clear();
    SetStagedPaths(c.staged);
    EXPECT_EQ(StartSharing(c.mode, c.typed, c.stop ? +[] { return true; } : nullptr), c.want);
    if (!c.box.empty()) ExpectBox(c.box, kMbIconWarning);
    EXPECT_EQ(Statuses(), c.statuses);
    EXPECT_EQ(StagedPaths().size(), c.want < 0 ? c.staged.size() : 0u);
    EXPECT_EQ(HostedCount(), static_cast<size_t>(std::max(c.want, 0)));
    if (c.want <= 0) continue;
    const auto newest = Item(HostedCount() - 1);
    EXPECT_EQ(newest->mode, ShareMode::kLan);  // an Internet item without a client falls back at once
    EXPECT_TRUE(ListeningOnAllInterfaces());  // and the server re-binds for it
    ShowNewestShare(hwnd_);
    EXPECT_EQ(TestShell().clipboard, std::vector<std::wstring>{Utf8ToWstr(newest->url)});
    EXPECT_EQ(FetchBody(c.want == 1 && c.mode == kLan ? "my-link" : newest->slug), c.want > 1 ? "b" : "a");
  }
}

TEST_F(Share, StopSelectedStopAllAndCloseWithTheUsersAnswers) {
  TempDir dir;
  auto share = [&] {
    for (const wchar_t* name : {L"f0", L"f1"}) ASSERT_TRUE(AddPath(dir.Write(name, "x"), ShareMode::kLan, "", hwnd_));
    TestShell().Clear();
  };
  StopSelected(hwnd_, -1);
  StopAll(hwnd_);
  EXPECT_TRUE(ConfirmCloseWhileSharing(hwnd_));
  ExpectBox(L"");
  EXPECT_EQ(Statuses(), (std::vector<std::wstring>{L"Select a row in the list first.", L"Nothing to stop."}));
  share();
  const std::string second = Item(1)->slug;
  StopSelected(hwnd_, 2);  // a stale row: nothing
  StopSelected(hwnd_, 0);
  EXPECT_EQ(Item(0)->slug + std::to_string(HostedCount() + TestShell().listRefreshes + Statuses().size()), second + "2");
  EXPECT_TRUE(ServerRunning());
  StopSelected(hwnd_, 0);
  EXPECT_FALSE(ServerRunning());
  EXPECT_EQ(Statuses(), std::vector<std::wstring>{L"Sharing stopped. Drop a file above to share again."});
  for (const bool closing : {false, true}) {
    share();
    TestShell().nextAnswer = kIdNo;
    EXPECT_FALSE(closing ? ConfirmCloseWhileSharing(hwnd_) : (StopAll(hwnd_), false));
    EXPECT_EQ(HostedCount(), 2u);
    TestShell().nextAnswer = kIdYes;
    EXPECT_TRUE(closing ? ConfirmCloseWhileSharing(hwnd_) : (StopAll(hwnd_), true));
    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].text + std::to_wstring(boxes[1].type == (kMbYesNo | kMbIconQuestion | kMbDefButton2)),
              closing ? L"You are currently hosting files.\n\nStop sharing and exit?1" : L"Stop sharing all hosted files?1");
    EXPECT_FALSE(HostedCount() || ServerRunning());
    EXPECT_EQ(Statuses(), std::vector<std::wstring>{L"All sharing stopped."});
  }
}
}  // namespace
