// The sharing use cases through the recording shell, without outside
// programs (no tunnel client is found): caps, the size limit, refusals and
// their messages, Start Sharing, Stop Selected / Stop All, app messages.
#include <filesystem>
#include <regex>

#include "core/app_messages.h"
#include "sharing/compress.h"
#include "core/links.h"
#include "sharing/session.h"
#include "platform/fs.h"
#include "platform/module.h"
#include "recording_shell.h"
#include "tunnel/reader.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;

namespace {

std::wstring Folder(const TempDir& dir, const std::wstring& name) {
  return fs::create_directory(fs::path(dir.File(name))), dir.File(name);
}
const wchar_t kLanReady[] = L"LAN link ready and copied to clipboard.";
const wchar_t kBadSyntax[] =
    L"Custom link must be 3 to 32 characters and contain only letters, digits, hyphens, or underscores.";

TEST(PathLastComponent, Table) {
  const std::pair<std::wstring, std::wstring> cases[] = {{L"", L""}, {L"/", L""}, {L"/home/u/photos//", L"photos"},
#ifdef _WIN32
      {L"C:\\", L""}, {L"C:a.txt", L"a.txt"}, {L"\\\\server\\share\\dir", L"dir"}, {L"C:/mixed\\sep/x", L"x"}};
#else
      {L"/home/u/back\\slash", L"back\\slash"}};  // a plain character here
#endif
  for (const auto& [path, want] : cases) EXPECT_EQ(PathLastComponent(path), want) << WstrToUtf8(path);
}

// No path ever enters the command: PowerShell reads both from the environment.
TEST(PowerShellCompressCommand, PathsTravelInTheEnvironment) {
  EXPECT_EQ(PowerShellCompressCommand(),
            L"powershell.exe -NoProfile -NonInteractive -Command \"Compress-Archive -LiteralPath "
            L"$env:VH_COMPRESS_FOLDER -DestinationPath $env:VH_COMPRESS_ARCHIVE -Force\"");
}

// Hosted and selected files and folders, and whether the batch is staged; a
// refused one shows the free-tier box and keeps the batch staged before it.
TEST_F(ShareTest, SelectionCaps) {
  const struct {
    int hostedFiles, hostedFolders, files, folders;
    bool staged;
  } cases[] = {{0, 0, 3, 0, true}, {0, 0, 4, 0, false}, {0, 0, 0, 1, true}, {0, 0, 0, 2, false},
               {0, 0, 1, 1, false}, {1, 0, 2, 0, true}, {1, 0, 3, 0, false}, {3, 0, 1, 0, false},
               {1, 0, 0, 1, false}, {0, 1, 1, 0, false}, {0, 1, 0, 1, false}};
  TempDir dir;
  const std::wstring previous = dir.Write(L"previous.txt", "p");
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.hostedFiles << c.hostedFolders << c.files << c.folders);
    ClearHosted();
    for (int i = 0; i < c.hostedFiles; ++i)
      ASSERT_TRUE(AddHostedItem(dir.Write(L"h" + std::to_wstring(i), "h"), 1, "", hwnd_, false, L""));
    const std::wstring zip = dir.Write(L"hosted.zip", "PK");
    if (c.hostedFolders) {
      ASSERT_TRUE(AddHostedItem(zip, 1, "", hwnd_, true, zip));
    }
    g_pendingPaths = {previous};
    TestShell().Clear();
    std::vector<std::wstring> batch;
    for (int i = 0; i < c.files; ++i) batch.push_back(dir.Write(L"f" + std::to_wstring(i), "x"));
    for (int i = 0; i < c.folders; ++i) batch.push_back(Folder(dir, L"d" + std::to_wstring(i)));
    OnPathsSelected(batch);
    if (c.staged) ExpectNoBox(); else ExpectFreeTierBox();
    EXPECT_EQ(g_pendingPaths, c.staged ? batch : std::vector<std::wstring>{previous});
    EXPECT_EQ(TestShell().startEnabled, c.staged);
    EXPECT_EQ(TestShell().LastStatus(), c.staged ? L"Choose a mode, then click Start Sharing." : L"");
  }
}

TEST_F(ShareTest, SelectionTextsAndMissingPaths) {
  TempDir dir;
  const std::wstring file = dir.Write(L"report.pdf", "x"), longFile = dir.Write(std::wstring(250, L'n'), "x"),
                     missing = dir.File(L"missing");
  const std::pair<std::vector<std::wstring>, std::wstring> cases[] = {
      {{file}, L"Selected file: report.pdf"},
      {{Folder(dir, L"Holiday photos") + kPathSeparator}, L"Selected folder: Holiday photos"},
      {{longFile}, L"Selected file: " + std::wstring(200, L'n')},
      {{file, missing, longFile, L""}, L"Selected 2 items (2 file(s), 0 folder(s))"},
  };
  for (const auto& [batch, want] : cases) {
    OnPathsSelected(batch);
    ExpectNoBox();
    EXPECT_EQ(TestShell().selection, want);
  }
  EXPECT_EQ(g_pendingPaths.size(), 2u);
  // Nothing left: a warning, the batch before stays; an empty batch does nothing.
  TestShell().Clear();
  OnPathsSelected({missing, L""});
  OnPathsSelected({});
  ExpectBox(L"None of the dropped paths could be opened.", kMbIconWarning);
  EXPECT_EQ(g_pendingPaths.size(), 2u);
  EXPECT_FALSE(TestShell().startEnabled);
}

TEST_F(ShareTest, LanItemsCapsAndTheSizeLimit) {
  TempDir dir;
  const std::wstring f = WriteFileAt(dir.path() + kPathSeparator + L"notes \xe9t\xe9.txt", "hello");
  ASSERT_TRUE(AddPath(f, 1, "", hwnd_));
  ASSERT_TRUE(AddPath(f, 1, "", hwnd_));  // the same file twice: two items
  ASSERT_TRUE(AddPath(dir.Write(L"third", "x"), 1, "", hwnd_));
  ExpectNoBox();
  const auto item = Item(0);
  EXPECT_EQ(item->name, "notes \xc3\xa9t\xc3\xa9.txt");
  EXPECT_EQ(item->size, 5u);
  EXPECT_TRUE(std::regex_match(item->slug, std::regex("[a-z0-9]{12}")));
  EXPECT_NE(item->slug, Item(1)->slug);
  EXPECT_EQ(TestShell().LastStatus(), kLanReady);
  EXPECT_TRUE(g_listenAllIfaces.load());  // a same-network item: all interfaces
  EXPECT_EQ(FetchBody(item->slug), "hello");
  // Refused before anything is compressed: a fourth file, a folder beside files.
  for (const std::wstring& more : {dir.Write(L"fourth", "x"), Folder(dir, L"folder")}) {
    TestShell().Clear();
    EXPECT_FALSE(AddPath(more, 1, "", hwnd_));
    ExpectFreeTierBox();
    EXPECT_EQ(TestShell().pumps + Statuses().size(), 0u);
  }
  ClearHosted();
  bool isFolder = true;
  EXPECT_TRUE(ReadPathKind(f, isFolder));  // a plain file is never deleted
  const std::wstring zip = dir.Write(L"hosted.zip", "PK");  // a file beside a folder's archive
  ASSERT_TRUE(AddHostedItem(zip, 1, "", hwnd_, true, zip));
  TestShell().Clear();
  EXPECT_FALSE(AddPath(f, 1, "", hwnd_));
  ExpectFreeTierBox();
  ClearHosted();

  // Exactly 1 GiB is shared, one byte more refused (sparse files).
  const std::wstring exact = dir.Write(L"exact.bin", ""), over = dir.Write(L"over.bin", "");
  fs::resize_file(fs::path(exact), 1073741824u);
  fs::resize_file(fs::path(over), 1073741825u);
  ASSERT_TRUE(AddPath(exact, 1, "", hwnd_));
  EXPECT_EQ(Item(0)->size, 1073741824u);
  TestShell().Clear();
  EXPECT_FALSE(AddPath(over, 1, "", hwnd_));
  ExpectBox(L"File exceeds the 1 GB limit for the free tier.", kMbIconWarning);
  EXPECT_EQ(HostedCount(), 1u);
}

TEST_F(ShareTest, RefusalsLeaveTheRegistryUnchanged) {
  TempDir dir;
  const std::wstring f = dir.Write(L"file.txt", "x"),
                     cannotLock = L"Cannot lock the file for sharing. Close it in any other app and try again.";
  ASSERT_TRUE(AddPath(f, 1, "taken-link", hwnd_));
#ifdef _WIN32
  const std::wstring busy = dir.Write(L"busy.txt", "busy");  // a file someone is writing
  HANDLE writer = CreateFileW(busy.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
#else
  const std::wstring fifo = dir.File(L"fifo");
  ASSERT_EQ(mkfifo(WstrToUtf8(fifo).c_str(), 0600), 0);
#endif
  const struct {
    std::wstring path;
    std::string custom;
    bool direct;  // AddHostedItem rather than AddPath
    std::wstring text;
    unsigned icon;
  } cases[] = {
      {dir.File(L"nope"), "", false, L"Path not found.", kMbIconError},
      {dir.File(L"nope"), "", true, L"File not found.", kMbIconError},
      {dir.path(), "", true, L"Internal error: folder reached file-share path.", kMbIconError},
      {f, "dl", false, kBadSyntax, kMbIconWarning},
      {f, "Admin", false, L"That custom link is reserved. Choose a different one.", kMbIconWarning},
      {f, "taken-link", false, L"That custom link is already in use. Choose a different one.", kMbIconWarning},
#ifdef _WIN32
      {busy, "", false, cannotLock, kMbIconError},
#else
      // Neither a regular file nor a folder: refused at once, never waited on.
      {fifo, "", false, cannotLock, kMbIconError},
      {L"/dev/null", "", false, cannotLock, kMbIconError},
#endif
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(WstrToUtf8(c.path) + " " + c.custom);
    TestShell().Clear();
    EXPECT_FALSE(c.direct ? AddHostedItem(c.path, 1, c.custom, hwnd_, false, L"") : AddPath(c.path, 1, c.custom, hwnd_));
    ExpectBox(c.text, c.icon);
    EXPECT_EQ(HostedCount(), 1u);
    EXPECT_TRUE(Statuses().empty());
  }
#ifdef _WIN32
  CloseHandle(writer);
#endif
}

// Start Sharing from the staged selection, and the latest-link views.
TEST_F(ShareTest, StartSharing) {
  TempDir empty;
  ScopedEnv path("PATH", WstrToUtf8(empty.path()));  // no tunnel client anywhere
  TempDir dir;
  const std::wstring a = dir.Write(L"a.txt", "a"), b = dir.Write(L"b.txt", "b");
  const struct {
    std::vector<std::wstring> staged;
    int mode;
    std::string typed;
    bool stop;
    int want;
    std::wstring box;
    std::vector<std::wstring> statuses;
    std::string slug;  // of the newest item; empty: random
  } cases[] = {
      {{}, 1, "", false, -1, L"", {}, ""},
      {{a, b}, 1, " my-link", false, -1,
       L"Custom link can only be set when sharing a single item.\nClear the custom link to share "
       L"multiple items at once.", {}, ""},
      {{a}, 1, " \tmy-link\t ", false, 1, L"", {kLanReady}, "my-link"},
      {{a}, 1, "\nmy-link", false, 0, kBadSyntax, {}, ""},  // only spaces and tabs are trimmed
      {{a, b}, 1, " \t", false, 2, L"", {2, kLanReady}, ""},
      {{a, b}, 1, "", true, 0, L"", {}, ""},
      {{a}, 0, "", false, 1, L"", {L"cloudflared.exe missing using LAN link instead."}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed + std::to_string(c.want));
    ClearHosted();
    TestShell().Clear();
    g_pendingPaths = c.staged;
    EXPECT_EQ(StartSharing(c.mode, c.typed, c.stop ? +[] { return true; } : nullptr), c.want);
    ExpectBox(c.box, kMbIconWarning);
    EXPECT_EQ(Statuses(), c.statuses);
    EXPECT_EQ(g_pendingPaths.size(), c.want < 0 ? c.staged.size() : 0u);
    EXPECT_EQ(HostedCount(), static_cast<size_t>(c.want > 0 ? c.want : 0));
    if (c.want <= 0) continue;
    const auto newest = Item(HostedCount() - 1);
    EXPECT_EQ(newest->mode, 1);  // an Internet item without a client falls back at once
    EXPECT_TRUE(g_listenAllIfaces.load());  // and the server re-binds for it
    EXPECT_TRUE(c.slug.empty() || newest->slug == c.slug) << newest->slug;
    ShowNewestShare(hwnd_);
    EXPECT_EQ(TestShell().latestRefreshes, 1);
    EXPECT_EQ(TestShell().clipboard, std::vector<std::wstring>{Utf8ToWstr(newest->url)});
    EXPECT_EQ(FetchBody(newest->slug), WstrToUtf8(PathLastComponent(newest->path)).substr(0, 1));
  }
}

// Stop Selected, Stop All and closing with shares, with the user's answers.
TEST_F(ShareTest, StopSelectedStopAllAndClose) {
  TempDir dir;
  auto share = [&](int n) {
    for (int i = 0; i < n; ++i) ASSERT_TRUE(AddPath(dir.Write(L"f" + std::to_wstring(i), "x"), 1, "", hwnd_));
    TestShell().Clear();
  };
  StopSelected(hwnd_, -1);
  StopAll(hwnd_);
  EXPECT_EQ(Statuses(), (std::vector<std::wstring>{L"Select a row in the list first.", L"Nothing to stop."}));
  EXPECT_TRUE(ConfirmCloseWhileSharing(hwnd_));
  ExpectNoBox();

  share(2);
  const std::string second = Item(1)->slug;
  StopSelected(hwnd_, 2);  // a stale row: nothing
  StopSelected(hwnd_, 0);
  EXPECT_EQ(HostedCount(), 1u);
  EXPECT_EQ(Item(0)->slug, second);
  EXPECT_TRUE(g_serverRunning.load());
  EXPECT_TRUE(Statuses().empty());
  EXPECT_EQ(TestShell().listRefreshes, 1);
  StopSelected(hwnd_, 0);
  EXPECT_FALSE(g_serverRunning.load());
  EXPECT_EQ(Statuses(), std::vector<std::wstring>{L"Sharing stopped. Drop a file above to share again."});

  for (const bool closing : {false, true}) {
    share(2);
    TestShell().nextAnswer = kIdNo;
    if (closing) EXPECT_FALSE(ConfirmCloseWhileSharing(hwnd_)); else StopAll(hwnd_);
    EXPECT_EQ(HostedCount(), 2u);
    TestShell().nextAnswer = kIdYes;
    if (closing) EXPECT_TRUE(ConfirmCloseWhileSharing(hwnd_)); else StopAll(hwnd_);
    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].text, closing ? L"You are currently hosting files.\n\nStop sharing and exit?"
                                     : L"Stop sharing all hosted files?");
    EXPECT_EQ(boxes[1].type, kMbYesNo | kMbIconQuestion | kMbDefButton2);
    EXPECT_EQ(HostedCount(), 0u);
    EXPECT_FALSE(g_serverRunning.load());
    EXPECT_EQ(Statuses(), std::vector<std::wstring>{L"All sharing stopped."});
  }
}

// Without a running tunnel, a failure the reader reported turns Internet
// items into same-network items after a restart that finds no client.
TEST_F(ShareTest, ApplicationMessages) {
  TempDir empty;
  ScopedEnv path("PATH", WstrToUtf8(empty.path()));
  TempDir dir;
  ASSERT_TRUE(AddPath(dir.Write(L"lan.txt", "l"), 1, "lan-item", hwnd_));
  ASSERT_TRUE(AddPath(dir.Write(L"net.txt", "n"), 1, "net-item", hwnd_));
  const auto net = Item(1);
  {
    std::lock_guard<std::mutex> lock(g_hostedMtx);
    net->mode = 0;
    BuildItemUrl_locked(*net);
  }
  const std::string lanUrl = Item(0)->url;
  TestShell().Clear();
  EXPECT_TRUE(OnSharingMessage(hwnd_, WM_DOWNLOAD_DONE, 0, 0));
  EXPECT_FALSE(OnSharingMessage(hwnd_, WM_SHELL_PATH, 0, 0));
  EXPECT_EQ(TestShell().listRefreshes, 1);
  g_tunRetryLeft = 1;
  MarkTunnelMessage(WM_TUNNEL_FAILED, 0);
  EXPECT_TRUE(OnSharingMessage(hwnd_, WM_TUNNEL_FAILED, 0, 0));
  EXPECT_EQ(Statuses(), (std::vector<std::wstring>{L"Tunnel dropped. Reconnecting...",
                                                   L"Tunnel unavailable. Using LAN links instead."}));
  EXPECT_EQ((std::vector<int>{Item(1)->mode, g_tunRetryLeft.load()}), (std::vector<int>{1, 0}));
  EXPECT_EQ(Item(0)->url + " " + Item(1)->url, lanUrl + " " + lanUrl.substr(0, lanUrl.rfind('/') + 1) + "net-item");
}

}  // namespace
