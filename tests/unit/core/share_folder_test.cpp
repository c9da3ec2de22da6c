// Folders through the real compressor (Info-ZIP; under Wine a PowerShell double), Internet items (a double).
#include <atomic>
#include <filesystem>
#include <regex>
#include <thread>

#include "core/app_messages.h"
#include "fake_tunnel.h"
#include "platform/module.h"
#include "platform/random.h"
#include "recording_shell.h"
#include "sharing/archive.h"
#include "sharing/compress.h"
#include "sharing/session.h"
#include "tunnel/reader.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {
const wchar_t kCompressing[] = L"Compressing folder... (this may take a moment)";
#ifdef _WIN32
const wchar_t kCompressFailed[] = L"Could not compress folder.\n\nPowerShell's Compress-Archive is required. Make sure "
                                  L"PowerShell is installed and the folder isn't in use.";
const wchar_t* const kCompressHung = kCompressFailed;
const std::wstring kArchiveLeaf = L"vornhale";
fs::path FsPath(const std::wstring& p) { return fs::path(p); }
// The PowerShell double put where the system's own copy lives (once per run); the copy beside this binary is a
// planted one that must never run. The folder the system's copy records its paths in.
std::wstring SystemPowerShellFolder() {
  static const std::wstring folder = [] {
    wchar_t system[MAX_PATH] = {};
    const std::wstring dir = std::wstring(system, GetSystemDirectoryW(system, MAX_PATH)) + L"\\WindowsPowerShell\\v1.0";
    std::error_code ec;
    fs::create_directories(fs::path(dir), ec);
    CopyFileW((ProgramFolder() + L"\\powershell.exe").c_str(), (dir + L"\\powershell.exe").c_str(), FALSE);
    return dir;
  }();
  return folder;
}
// The compressor fails (exit 1 after half an archive) or hangs while this lives.
struct BrokenCompressor : ScopedEnv {
  explicit BrokenCompressor(const std::string& how) : ScopedEnv("VH_FAKE_POWERSHELL", how) {}
};
#else
const wchar_t kCompressFailed[] = L"Could not compress folder: zip exited with code 3.";
const wchar_t kCompressHung[] = L"Could not compress folder: zip did not finish within 10 minutes.";
const std::wstring kArchiveLeaf = L"vornhale-" + std::to_wstring(geteuid());
fs::path FsPath(const std::wstring& p) { return fs::path(WstrToUtf8(p)); }  // names need not suit the C locale
struct BrokenCompressor {  // a zip earlier on PATH
  explicit BrokenCompressor(const std::string& how) : env("PATH", WstrToUtf8(bin.path()) + ":" + std::getenv("PATH")) {
    const std::string script = "#!/bin/sh\necho partial\n" + std::string(how == "hang" ? "exec sleep 60\n" : "exit 3\n");
    chmod(WstrToUtf8(bin.Write(L"zip", script)).c_str(), 0755);
  }
  TempDir bin;
  ScopedEnv env;
};
#endif

// The user's temporary folder moved into a private one, so the archives' folder can be checked for leftovers.
struct ShareFolderTest : ShareTest {
#ifdef _WIN32
  void SetUp() override { ShareTest::SetUp(), SystemPowerShellFolder(); }
#endif
  void TearDown() override {
    SetCompressTimeoutForTest(0), StopTunnel(), DiscardTunnelMessages(), SetTunnelProbeForTest(nullptr);
    ShareTest::TearDown();
  }
  std::wstring ArchiveFolder() const { return tmp_.File(kArchiveLeaf); }
  bool NoArchives() const {
    std::error_code ec;
    return fs::directory_iterator(FsPath(ArchiveFolder()), ec) == fs::directory_iterator();
  }
  std::wstring SampleFolder(const std::wstring& name) const {  // holding a.txt
    const std::wstring path = tmp_.path() + kPathSeparator + name;
    fs::create_directories(FsPath(path));
    return WriteFileAt(path + kPathSeparator + L"a.txt", "alpha\n"), path;
  }
  TempDir tmp_;
  ScopedEnv tmp1_{"TMP", WstrToUtf8(tmp_.path())}, tmp2_{"TEMP", WstrToUtf8(tmp_.path())},
      tmp3_{"TMPDIR", WstrToUtf8(tmp_.path())};
};

// Names that quote, expand or run code in PowerShell (or a shell): compressed, shared, downloaded, deleted.
TEST_F(ShareFolderTest, FoldersAreCompressedSharedAndDownloaded) {
  for (const std::wstring name : {L"x\u2019;Start-Process calc;\u2018y\u201A\u201B", L"x';Start-Process calc;'y",
                                  L"cost $HOME $(id)", L"tick`n`$a", L"photos [2023]", L"R&D a;b  two"}) {
    SCOPED_TRACE(WstrToUtf8(name));
    const std::wstring folder = SampleFolder(name);
    TestShell().Clear();
    ASSERT_TRUE(AddPath(folder, 1, "", hwnd_));
    ExpectBox(L"");
    auto item = Item(0);
    const std::string stem = WstrToUtf8(name), zip = FetchBody(item->slug);
    EXPECT_TRUE(item->isFolder && item->tempZip == item->path);
    EXPECT_EQ(item->name.substr(0, stem.size()) + std::regex_replace(item->name.substr(stem.size()),
                                                                     std::regex("^_[1-9][0-9]*\\.zip$"), "_N"), stem + "_N");
    EXPECT_EQ(item->path, ArchiveFolder() + kPathSeparator + Utf8ToWstr(item->name));
    EXPECT_EQ(Statuses(), (std::vector<std::wstring>{kCompressing, L"LAN link ready and copied to clipboard."}));
    EXPECT_EQ(TestShell().pumps, 1);
#ifdef _WIN32  // the double received exactly the folder and the archive
    EXPECT_EQ(zip, "archive of " + WstrToUtf8(folder) + "\n");
    EXPECT_EQ(ReadWholeFile(SystemPowerShellFolder() + L"\\powershell_paths.txt"),
              WstrToUtf8(folder + L"\n" + item->path + L"\n"));
    EXPECT_FALSE(PathExists(ProgramFolder() + L"\\powershell_paths.txt")) << "the copy beside the program ran";
#else
    EXPECT_TRUE(zip.size() == item->size && zip.rfind("PK", 0) == 0 && zip.find("a.txt") != std::string::npos);
#endif
    item.reset();
    ClearHosted();
    EXPECT_TRUE(WaitUntil([&] { return NoArchives(); }));
  }
}

// Also an archive refused before its item exists (reserved link) or dropped after (no slug drawn) is deleted.
TEST_F(ShareFolderTest, CompressorFailureHangStopAndRefusalLeaveNothingBehind) {
  const std::wstring folder = SampleFolder(L"photos");
  // With `stop`, a stop request while the compressor runs: ended at once, nothing reported.
  const struct { const char* how; bool stop; const wchar_t* text; } cases[] = {
      {"fail", false, kCompressFailed}, {"hang", false, kCompressHung}, {"hang", true, L""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.how) + (c.stop ? " + stop" : ""));
    TestShell().Clear();
    BrokenCompressor broken(c.how);
    SetCompressTimeoutForTest(c.stop ? 0 : 1500);
    std::thread stopper([&] {
      if (c.stop) std::this_thread::sleep_for(std::chrono::milliseconds(300)), SetCompressionCancelled(true);
    });
    EXPECT_FALSE(AddPath(folder, 1, "", hwnd_));
    stopper.join();
    SetCompressionCancelled(false);
    ExpectBox(c.text, kMbIconError);
    EXPECT_EQ(Statuses(), (c.stop ? std::vector<std::wstring>{kCompressing}
                                  : std::vector<std::wstring>{kCompressing, L"Folder compression failed."}));
    EXPECT_FALSE(HostedCount() || g_serverRunning.load());
    EXPECT_TRUE(NoArchives());
  }
  TestShell().Clear();
  EXPECT_FALSE(AddPath(folder, 1, "support", hwnd_));
  ExpectBox(L"That custom link is reserved. Choose a different one.", kMbIconWarning);
  EXPECT_TRUE(NoArchives());
  TestShell().Clear();
  const RandomSourceFn old = SetRandomSourceForTest([](void*, size_t) { return false; });
  EXPECT_FALSE(AddPath(folder, 1, "", hwnd_));
  SetRandomSourceForTest(old);
  ExpectBox(L"Could not generate a secure link. Please try again.", kMbIconError);
  EXPECT_EQ(HostedCount(), 0u);
  EXPECT_TRUE(NoArchives());
}

#ifndef _WIN32
// Names are taken exclusively (0600) and marked live: a taken one (another instance's) is skipped and never touched.
TEST(ArchiveSeam, TakenNameMovesOnAndStaysUntouched) {
  TempDir dir;
  ScopedFile hold;
  const std::wstring taken = dir.Write(L"x_5.zip", "theirs"), mine = ReserveArchivePath(dir.path(), L"x", 5, hold);
  struct stat st {};
  ASSERT_EQ(stat(WstrToUtf8(mine).c_str(), &st), 0);
  EXPECT_EQ(WstrToUtf8(mine) + " " + std::to_string(st.st_size) + " " + std::to_string(st.st_mode & 0777) + " " +
                ReadWholeFile(taken), WstrToUtf8(dir.File(L"x_6.zip")) + " 0 384 theirs");  // 384: 0600
  const int probe = open(WstrToUtf8(mine).c_str(), O_RDONLY | O_CLOEXEC);
  EXPECT_EQ(flock(probe, LOCK_EX | LOCK_NB), -1) << "not marked live";
  close(probe);
  EXPECT_EQ(ReserveArchivePath(dir.File(L"missing"), L"x", 5, hold), L"");
  EXPECT_FALSE(hold.valid());
}

// A start-up sweep deletes what no instance holds: a live mark (reserved, or held by an item) keeps an archive;
// other names, folders and links stay.
TEST_F(ShareFolderTest, StartUpSweepKeepsLiveArchives) {
  const std::wstring dir = ::ArchiveFolder();
  ScopedFile reserved, item;
  const std::wstring live = ReserveArchivePath(dir, L"live", 1, reserved), held = WriteFileAt(dir + L"/held_2.zip", "z"),
                     left = WriteFileAt(dir + L"/left_3.zip", "old");
  item = ScopedFile(OpenFileShareRead(held, HoldKind::kReadAndDelete));
  ASSERT_TRUE(HoldArchive(item.get()));
  const std::wstring other = WriteFileAt(dir + L"/notes.txt", "n"), sub = dir + L"/sub.zip", link = dir + L"/l.zip";
  ASSERT_EQ(mkdir(WstrToUtf8(sub).c_str(), 0700) + symlink(WstrToUtf8(left).c_str(), WstrToUtf8(link).c_str()), 0);
  EXPECT_EQ(SweepLeftArchives(), 1);
  for (const auto& [path, kept] : {std::pair(live, true), {held, true}, {left, false}, {other, true}, {sub, true}})
    EXPECT_EQ(PathExists(path), kept) << WstrToUtf8(path);
  struct stat st {};
  EXPECT_EQ(lstat(WstrToUtf8(link).c_str(), &st), 0) << "a link is not followed nor taken";
  reserved.reset(), item.reset();
  EXPECT_EQ(SweepLeftArchives(), 2);
  unlink(WstrToUtf8(link).c_str()), rmdir(WstrToUtf8(sub).c_str()), unlink(WstrToUtf8(other).c_str());
}

// Reservations made while other sweeps run all the time: every name handed out still names a live archive.
TEST_F(ShareFolderTest, ReservationSurvivesConcurrentSweeps) {
  const std::wstring dir = ::ArchiveFolder();
  std::atomic<bool> done{false};
  std::thread sweeper([&] {
    for (int i = 0; i < 100000 && !done.load(); ++i) SweepLeftArchives();
  });
  std::vector<std::pair<std::wstring, ScopedFile>> got(300);
  for (size_t i = 0; i < got.size(); ++i) got[i].first = ReserveArchivePath(dir, L"r", 10 * i, got[i].second);
  done = true;
  sweeper.join();
  for (const auto& [path, hold] : got) {
    struct stat named {}, opened {};
    ASSERT_TRUE(hold.valid() && stat(WstrToUtf8(path).c_str(), &named) == 0 && fstat(hold.get(), &opened) == 0);
    EXPECT_EQ(named.st_ino, opened.st_ino) << WstrToUtf8(path);
  }
}

// Another account owns the archives' usual folder, or a link stands in its place: a private one beside it.
TEST_F(ShareFolderTest, ForeignArchiveFolderIsLeftAlone) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give a folder to another account";
  const std::wstring folder = SampleFolder(L"pics"), usualW = ArchiveFolder();
  const std::string usual = WstrToUtf8(usualW);
  for (const bool asLink : {false, true}) {
    ASSERT_EQ(asLink ? rmdir(usual.c_str()) + symlink(WstrToUtf8(tmp_.path()).c_str(), usual.c_str())
                     : mkdir(usual.c_str(), 0777) + chown(usual.c_str(), 12345, 12345), 0);
    ASSERT_TRUE(AddPath(folder, 1, "", hwnd_));
    const std::wstring archive = Item(0)->path, own = archive.substr(0, archive.rfind(L'/'));
    struct stat st {};
    ASSERT_EQ(stat(WstrToUtf8(own).c_str(), &st), 0);
    EXPECT_EQ(std::tuple(own.rfind(usualW + L"-", 0), st.st_uid, st.st_mode & 0777), std::tuple(0u, 0u, 0700u));
    ClearHosted(), ReleaseArchiveFolder();
    EXPECT_FALSE(PathExists(archive) || PathExists(own)) << "outlived the program: " << WstrToUtf8(own);
  }
  unlink(usual.c_str());
}
#endif

#ifdef _WIN32
// A start-up sweep deletes the archives it can: one held by an item (a running instance) cannot be; other names stay.
TEST_F(ShareFolderTest, StartUpSweepKeepsHeldArchives) {
  const std::wstring dir = ::ArchiveFolder(), held = WriteFileAt(dir + L"\\held_2.zip", "z");
  const std::wstring left = WriteFileAt(dir + L"\\left_3.ZIP", "old"), other = WriteFileAt(dir + L"\\notes.zipped", "n");
  ScopedFile item(OpenFileShareRead(held, HoldKind::kReadAndDelete));
  ASSERT_TRUE(item.valid() && HoldArchive(item.get()));
  EXPECT_EQ(SweepLeftArchives(), 1);
  EXPECT_EQ(std::tuple(PathExists(held), PathExists(left), PathExists(other)), std::tuple(true, false, true));
  item.reset();
  EXPECT_EQ(SweepLeftArchives(), 1);
  DeleteFilePath(other);
}
#endif

// Internet items wait for the address, later ones are linked at once; the last one stopped ends the client only.
TEST_F(ShareFolderTest, InternetItemsFollowTheTunnel) {
  SetTunnelProbeForTest([](const std::wstring&) { return true; });
  FakeTunnel fake("sleep 500\nprint INF |  https://share-item.trycloudflare.com  |\nhang\n");
  const std::wstring f = tmp_.Write(L"inet.txt", "i");
  ASSERT_TRUE(AddPath(f, 1, "lan-stays", hwnd_));
  TestShell().Clear();
  g_pendingPaths = {f};
  ASSERT_EQ(StartSharing(0, "first"), 1);
  ShowNewestShare(hwnd_);
  ExpectBox(L"");
  EXPECT_TRUE(Item(1)->url.empty() && TestShell().clipboard.empty());  // "(waiting for tunnel...)", nothing copied
  EXPECT_EQ(Statuses(), std::vector<std::wstring>{L"Starting Cloudflare tunnel (up to 60s)..."});
  EXPECT_EQ(g_tunRetryLeft.load(), 3);
  ASSERT_EQ(PumpTunnel(hwnd_, WM_TUNNEL_READY, 15000, true).size(), 2u);
  EXPECT_EQ(Item(1)->url, "https://share-item.trycloudflare.com/first");
  TestShell().Clear();
  ASSERT_TRUE(AddPath(f, 0, "second", hwnd_));
  EXPECT_EQ(Item(2)->url, "https://share-item.trycloudflare.com/second");
  EXPECT_EQ(Statuses(), std::vector<std::wstring>{L"Link ready and copied to clipboard."});
  ASSERT_EQ(fake.Pids().size(), 1u);
  StopSelected(hwnd_, 2);
  EXPECT_TRUE(g_tunRunning.load());
  StopSelected(hwnd_, 1);
  EXPECT_FALSE(g_tunRunning.load());
  EXPECT_TRUE(WaitProcessGone(fake.Pids()[0], 5000));
  EXPECT_EQ(FetchBody("lan-stays"), "i");
}
}  // namespace
