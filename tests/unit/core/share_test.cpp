// Sharing a path without outside programs: the caps at selection and at
// sharing, the selection texts, the size limit, custom links, the refusals,
// and the fallback of an Internet item when no tunnel client is present.
#include <filesystem>
#include <regex>

#include "core/compress.h"
#include "platform/fs.h"
#include "platform/module.h"
#include "share_test_util.h"

#ifndef _WIN32
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

// A file of exactly `size` bytes without writing them (a sparse file).
std::wstring SparseFile(const TempDir& dir, const std::wstring& name, uintmax_t size) {
  const std::wstring p = dir.Write(name, "");
  fs::resize_file(fs::path(p), size);
  return p;
}

std::wstring Folder(const TempDir& dir, const std::wstring& name) {
  const std::wstring p = dir.File(name);
  fs::create_directory(fs::path(p));
  return p;
}

TEST(PathLastComponent, Table) {
  struct Case {
    std::wstring path;
    std::wstring want;
  };
  std::vector<Case> cases = {
      {L"", L""},
      {L"a.txt", L"a.txt"},
      {L"/", L""},
      {L"/home/u/it's.txt", L"it's.txt"},
      {L"/home/u/photos/", L"photos"},
      {L"/home/u/photos//", L"photos"},
  };
#ifdef _WIN32
  cases.push_back({L"C:\\", L""});
  cases.push_back({L"C:", L""});
  cases.push_back({L"C:\\Users\\u\\Docs\\", L"Docs"});
  cases.push_back({L"C:\\Users\\u\\a b.txt", L"a b.txt"});
  cases.push_back({L"C:a.txt", L"a.txt"});
  cases.push_back({L"\\\\server\\share\\dir", L"dir"});
  cases.push_back({L"C:/mixed\\sep/x", L"x"});
#else
  cases.push_back({L"/home/u/back\\slash", L"back\\slash"});  // a plain character here
#endif
  for (const auto& c : cases) EXPECT_EQ(PathLastComponent(c.path), c.want) << WstrToUtf8(c.path);
}

// No path ever enters the command: PowerShell reads both from the environment.
TEST(PowerShellCompressCommand, PathsTravelInTheEnvironment) {
  EXPECT_EQ(PowerShellCompressCommand(),
            L"powershell.exe -NoProfile -NonInteractive -Command \"Compress-Archive -LiteralPath "
            L"$env:VH_COMPRESS_FOLDER -DestinationPath $env:VH_COMPRESS_ARCHIVE -Force\"");
}

using ShareSelectionTest = ShareTest;

// What is hosted, what is selected, and whether the batch is staged. A refused
// selection shows the free-tier box and keeps the batch staged before it.
TEST_F(ShareSelectionTest, CapsMatrix) {
  struct Case {
    const char* label;
    int hostedFiles;
    bool hostedFolder;
    int files;
    int folders;
    bool staged;
  };
  const Case cases[] = {
      {"3 files, nothing hosted", 0, false, 3, 0, true},
      {"4 files, nothing hosted", 0, false, 4, 0, false},
      {"1 folder, nothing hosted", 0, false, 0, 1, true},
      {"2 folders", 0, false, 0, 2, false},
      {"1 file + 1 folder", 0, false, 1, 1, false},
      {"3 files, 1 hosted", 1, false, 3, 0, false},
      {"2 files, 1 hosted", 1, false, 2, 0, true},
      {"1 file, 3 hosted", 3, false, 1, 0, false},
      {"folder, file hosted", 1, false, 0, 1, false},
      {"file, folder hosted", 0, true, 1, 0, false},
      {"folder, folder hosted", 0, true, 0, 1, false},
  };
  TempDir dir;
  const std::wstring previous = dir.Write(L"previous.txt", "p");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ClearHosted();
    TestShell().Clear();
    for (int i = 0; i < c.hostedFiles; ++i) {
      const std::wstring f = dir.Write(L"hosted" + std::to_wstring(i) + L".txt", "h");
      ASSERT_TRUE(AddHostedItem(f, 1, "", hwnd_, false, L""));
    }
    if (c.hostedFolder) {
      const std::wstring zip = dir.Write(L"hosted.zip", "PK");
      ASSERT_TRUE(AddHostedItem(zip, 1, "", hwnd_, true, zip));
    }
    g_pendingPaths = {previous};
    TestShell().Clear();

    std::vector<std::wstring> batch;
    for (int i = 0; i < c.files; ++i) batch.push_back(dir.Write(L"f" + std::to_wstring(i), "x"));
    for (int i = 0; i < c.folders; ++i) batch.push_back(Folder(dir, L"d" + std::to_wstring(i)));
    OnPathsSelected(batch);
    if (c.staged) {
      ExpectNoBox();
      EXPECT_EQ(g_pendingPaths, batch);
      EXPECT_TRUE(TestShell().startEnabled);
      EXPECT_EQ(TestShell().LastStatus(), L"Choose a mode, then click Start Sharing.");
    } else {
      ExpectFreeTierBox();
      EXPECT_EQ(g_pendingPaths, std::vector<std::wstring>{previous});
      EXPECT_FALSE(TestShell().startEnabled);
      EXPECT_TRUE(Selection().empty());
      EXPECT_TRUE(Statuses().empty());
    }
  }
}

TEST_F(ShareSelectionTest, MissingPathsAreDroppedFromTheBatchAndItsText) {
  TempDir dir;
  const std::wstring a = dir.Write(L"a.txt", "a");
  const std::wstring b = dir.Write(L"b.txt", "b");
  OnPathsSelected({a, dir.File(L"missing.txt"), b, dir.File(L"missing-dir")});
  ExpectNoBox();
  EXPECT_EQ(g_pendingPaths, (std::vector<std::wstring>{a, b}));
  EXPECT_EQ(Selection(), L"Selected 2 items (2 file(s), 0 folder(s))");

  // Nothing left: a warning, and the batch above stays staged.
  TestShell().Clear();
  OnPathsSelected({dir.File(L"missing.txt"), L""});
  ExpectOneBox(L"None of the dropped paths could be opened.", kMbIconWarning);
  EXPECT_EQ(g_pendingPaths, (std::vector<std::wstring>{a, b}));
  EXPECT_FALSE(TestShell().startEnabled);

  // An empty batch does nothing at all.
  TestShell().Clear();
  OnPathsSelected({});
  ExpectNoBox();
  EXPECT_TRUE(Statuses().empty());
  EXPECT_EQ(g_pendingPaths.size(), 2u);
}

TEST_F(ShareSelectionTest, SelectionTexts) {
  TempDir dir;
  // Linux allows 255-byte names; Windows 255 UTF-16 units.
  const std::wstring longName(250, L'n');
  struct Case {
    std::vector<std::wstring> batch;
    std::wstring want;
  };
  const std::wstring file = dir.Write(L"report.pdf", "x");
  const std::wstring folder = Folder(dir, L"Holiday photos");
  const std::wstring longFile = dir.Write(longName, "x");
  const Case cases[] = {
      {{file}, L"Selected file: report.pdf"},
      {{folder}, L"Selected folder: Holiday photos"},
      {{folder + kPathSeparator}, L"Selected folder: Holiday photos"},
      {{longFile}, L"Selected file: " + std::wstring(200, L'n')},
      {{file, longFile}, L"Selected 2 items (2 file(s), 0 folder(s))"},
      {{file, dir.Write(L"2", ""), dir.Write(L"3", "")}, L"Selected 3 items (3 file(s), 0 folder(s))"},
  };
  for (const Case& c : cases) {
    TestShell().Clear();
    OnPathsSelected(c.batch);
    ExpectNoBox();
    EXPECT_EQ(Selection(), c.want);
    EXPECT_TRUE(TestShell().startEnabled);
  }
}

using ShareFileTest = ShareTest;

TEST_F(ShareFileTest, LanItemFieldsLinkAndStatus) {
  TempDir dir;
  const std::wstring f = WriteFileAt(dir.path() + kPathSeparator + L"notes \xe9t\xe9.txt", "hello");
  ASSERT_TRUE(AddPath(f, 1, "", hwnd_));
  ExpectNoBox();
  auto item = Item(0);
  ASSERT_TRUE(item);
  EXPECT_EQ(item->path, f);
  EXPECT_EQ(item->name, "notes \xc3\xa9t\xc3\xa9.txt");
  EXPECT_EQ(item->size, 5u);
  EXPECT_EQ(item->mode, 1);
  EXPECT_FALSE(item->isFolder);
  EXPECT_TRUE(item->tempZip.empty());
  EXPECT_NE(item->fileHandle, kInvalidFileHandle);
  EXPECT_TRUE(std::regex_match(item->slug, std::regex("[a-z0-9]{12}")));
  const std::string host = g_cachedLanIp.empty() ? "127.0.0.1" : g_cachedLanIp;
  EXPECT_EQ(item->url, "http://" + host + ":" + std::to_string(g_port) + "/" + item->slug);
  EXPECT_EQ(TestShell().LastStatus(), L"LAN link ready and copied to clipboard.");
  EXPECT_TRUE(g_serverRunning.load());
  EXPECT_TRUE(g_listenAllIfaces.load());  // a same-network item: all interfaces
  const Download d = FetchItem(item->slug);
  EXPECT_EQ(d.body, "hello");
  ClearHosted();
  bool isFolder = true;
  EXPECT_TRUE(ReadPathKind(f, isFolder));  // a plain file is never deleted
  EXPECT_FALSE(isFolder);
}

TEST_F(ShareFileTest, SizeLimitIsExactlyOneGiB) {
  TempDir dir;
  const std::wstring exact = SparseFile(dir, L"exact.bin", 1073741824u);
  const std::wstring over = SparseFile(dir, L"over.bin", 1073741825u);
  ASSERT_TRUE(AddPath(exact, 1, "", hwnd_));
  ExpectNoBox();
  ASSERT_TRUE(Item(0));
  EXPECT_EQ(Item(0)->size, 1073741824u);

  TestShell().Clear();
  EXPECT_FALSE(AddPath(over, 1, "", hwnd_));
  ExpectOneBox(L"File exceeds the 1 GB limit for the free tier.", kMbIconWarning);
  EXPECT_EQ(HostedCount(), 1u);
  EXPECT_TRUE(PathExists(over));
}

TEST_F(ShareFileTest, SameFileTwiceGivesTwoItems) {
  TempDir dir;
  const std::wstring f = dir.Write(L"twice.txt", "2");
  ASSERT_TRUE(AddPath(f, 1, "", hwnd_));
  ASSERT_TRUE(AddPath(f, 1, "", hwnd_));
  ExpectNoBox();
  ASSERT_EQ(HostedCount(), 2u);
  EXPECT_NE(Item(0)->slug, Item(1)->slug);
  EXPECT_EQ(FetchItem(Item(0)->slug).body, "2");
  EXPECT_EQ(FetchItem(Item(1)->slug).body, "2");
}

TEST_F(ShareFileTest, CapsWhenSharing) {
  TempDir dir;
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(AddPath(dir.Write(L"f" + std::to_wstring(i), "x"), 1, "", hwnd_));
  EXPECT_FALSE(AddPath(dir.Write(L"fourth", "x"), 1, "", hwnd_));
  ExpectFreeTierBox();
  EXPECT_EQ(HostedCount(), 3u);

  // A folder while files are hosted: refused before anything is compressed.
  ClearHosted();
  ASSERT_TRUE(AddPath(dir.Write(L"one", "x"), 1, "", hwnd_));
  TestShell().Clear();
  EXPECT_FALSE(AddPath(Folder(dir, L"folder"), 1, "", hwnd_));
  ExpectFreeTierBox();
  EXPECT_EQ(TestShell().pumps, 0);
  EXPECT_TRUE(Statuses().empty());

  // A file while a folder's archive is hosted.
  ClearHosted();
  const std::wstring zip = dir.Write(L"hosted.zip", "PK");
  ASSERT_TRUE(AddHostedItem(zip, 1, "", hwnd_, true, zip));
  TestShell().Clear();
  EXPECT_FALSE(AddPath(dir.Write(L"other", "x"), 1, "", hwnd_));
  ExpectFreeTierBox();
  ClearHosted();
  EXPECT_FALSE(PathExists(zip));  // the archive goes with its item
}

TEST_F(ShareFileTest, RefusalsLeaveTheRegistryUnchanged) {
  TempDir dir;
  const std::wstring f = dir.Write(L"file.txt", "x");
  ASSERT_TRUE(AddPath(f, 1, "taken-link", hwnd_));
  struct Case {
    const char* label;
    std::wstring path;
    std::string custom;
    bool direct;  // AddHostedItem rather than AddPath
    std::wstring text;
    unsigned icon;
  };
  const std::wstring syntax =
      L"Custom link must be 3 to 32 characters and contain only letters, digits, hyphens, or "
      L"underscores.";
#ifndef _WIN32
  const std::wstring kCannotLock =
      L"Cannot lock the file for sharing. Close it in any other app and try again.";
  const std::wstring fifo = dir.File(L"fifo");
  ASSERT_EQ(mkfifo(WstrToUtf8(fifo).c_str(), 0600), 0);
  const std::wstring socketFile = dir.File(L"sock");
  {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string sp = WstrToUtf8(socketFile);
    ASSERT_LT(sp.size(), sizeof addr.sun_path);
    sp.copy(addr.sun_path, sp.size());
    const int us = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(us, 0);
    ASSERT_EQ(bind(us, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    close(us);  // the socket file stays
  }
#endif
  const Case cases[] = {
      {"missing path", dir.File(L"nope"), "", false, L"Path not found.", kMbIconError},
      {"missing file", dir.File(L"nope"), "", true, L"File not found.", kMbIconError},
      {"folder as file", dir.path(), "", true, L"Internal error: folder reached file-share path.",
       kMbIconError},
      {"too short", f, "dl", false, syntax, kMbIconWarning},
      {"too long", f, std::string(33, 'a'), false, syntax, kMbIconWarning},
      {"non-ASCII", f, "caf\xc3\xa9", false, syntax, kMbIconWarning},
      {"slash", f, "a/b/c", false, syntax, kMbIconWarning},
      {"reserved", f, "Admin", false, L"That custom link is reserved. Choose a different one.",
       kMbIconWarning},
      {"in use", f, "taken-link", false,
       L"That custom link is already in use. Choose a different one.", kMbIconWarning},
#ifndef _WIN32
      // Neither a regular file nor a folder: refused at once, never waited on.
      {"FIFO", fifo, "", false, kCannotLock, kMbIconError},
      {"socket file", socketFile, "", false, kCannotLock, kMbIconError},
      {"device", L"/dev/null", "", false, kCannotLock, kMbIconError},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TestShell().Clear();
    const bool ok = c.direct ? AddHostedItem(c.path, 1, c.custom, hwnd_, false, L"")
                             : AddPath(c.path, 1, c.custom, hwnd_);
    EXPECT_FALSE(ok);
    ExpectOneBox(c.text, c.icon);
    EXPECT_EQ(HostedCount(), 1u);
    EXPECT_TRUE(Statuses().empty());
  }
  // Letter case counts: a different slug.
  TestShell().Clear();
  ASSERT_TRUE(AddPath(f, 1, "Taken-Link", hwnd_));
  ExpectNoBox();
  EXPECT_EQ(Item(1)->slug, "Taken-Link");
  EXPECT_EQ(FetchItem("Taken-Link").body, "x");
}

TEST_F(ShareFileTest, InternetItemWithoutClientFallsBackToLan) {
  // The client is looked for next to this program (and, on POSIX, along PATH):
  // neither holds one here.
  TempDir empty;
  ScopedEnv path("PATH", WstrToUtf8(empty.path()));
  TempDir dir;
  const std::wstring f = dir.Write(L"inet.txt", "i");
  ASSERT_TRUE(AddPath(f, 0, "", hwnd_));
  ExpectNoBox();
  auto item = Item(0);
  ASSERT_TRUE(item);
  EXPECT_EQ(item->mode, 1);
  const std::string host = g_cachedLanIp.empty() ? "127.0.0.1" : g_cachedLanIp;
  EXPECT_EQ(item->url, "http://" + host + ":" + std::to_string(g_port) + "/" + item->slug);
  EXPECT_EQ(Statuses(), std::vector<std::wstring>{L"cloudflared.exe missing using LAN link instead."});
  EXPECT_FALSE(g_tunRunning.load());
  EXPECT_TRUE(g_listenAllIfaces.load());  // re-bound for the same-network item
  EXPECT_EQ(FetchItem(item->slug).body, "i");
}

}  // namespace
