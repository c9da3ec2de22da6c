// Sharing a folder through the real compressor seam (Info-ZIP natively, the
// PowerShell test double under Wine) and Internet items with the test double
// of the tunnel client. Both doubles sit next to this suite's binary.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <thread>

#include "core/app_messages.h"
#include "core/compress.h"
#include "fake_tunnel.h"
#include "platform/module.h"
#include "platform/random.h"
#include "share_test_util.h"
#include "tunnel/reader.h"

#ifndef _WIN32
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

#include "core/archive.h"
#endif

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
const wchar_t kCompressFailed[] =
    L"Could not compress folder.\n\nPowerShell's Compress-Archive is required. Make sure "
    L"PowerShell is installed and the folder isn't in use.";
#else
const wchar_t kCompressFailed[] = L"Could not compress folder: zip exited with code 3.";
#endif

std::vector<std::wstring> FilesIn(const std::wstring& folder) {
  std::vector<std::wstring> out;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(fs::path(folder), ec)) out.push_back(e.path().wstring());
  return out;
}

// A folder named `name` holding a.txt and sub/b.bin.
struct SampleFolder {
  explicit SampleFolder(const TempDir& dir, const std::wstring& name) {
    path = dir.File(name);
    fs::create_directories(fs::path(path) / "sub");
    for (int i = 0; i < 3000; ++i) binary.push_back(static_cast<char>((i * 7) & 0xFF));
    std::ofstream(fs::path(path) / "a.txt", std::ios::binary) << "alpha\n";
    std::ofstream(fs::path(path) / "sub" / "b.bin", std::ios::binary) << binary;
  }
  std::wstring path;
  std::string binary;
};

#ifdef _WIN32
uint32_t Crc32(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (const unsigned char b : bytes) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
  }
  return crc ^ 0xFFFFFFFFu;
}

uint32_t Le(const std::string& s, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s.at(at + i));
  return v;
}

// Entries of a zip archive with stored (uncompressed) entries, checked
// against their CRC-32; false for anything else.
bool ReadStoredZip(const std::string& zip, std::map<std::string, std::string>& out) {
  if (zip.size() < 22 || Le(zip, zip.size() - 22, 4) != 0x06054b50) return false;
  const size_t count = Le(zip, zip.size() - 22 + 10, 2);
  size_t at = Le(zip, zip.size() - 22 + 16, 4);
  for (size_t i = 0; i < count; ++i) {
    if (Le(zip, at, 4) != 0x02014b50 || Le(zip, at + 10, 2) != 0) return false;
    const uint32_t crc = Le(zip, at + 16, 4);
    const uint32_t size = Le(zip, at + 20, 4);
    const size_t nameLen = Le(zip, at + 28, 2);
    const size_t skip = nameLen + Le(zip, at + 30, 2) + Le(zip, at + 32, 2);
    const size_t local = Le(zip, at + 42, 4);
    const std::string name = zip.substr(at + 46, nameLen);
    if (Le(zip, local, 4) != 0x04034b50) return false;
    const size_t data = local + 30 + Le(zip, local + 26, 2) + Le(zip, local + 28, 2);
    const std::string bytes = zip.substr(data, size);
    if (bytes.size() != size || Crc32(bytes) != crc) return false;
    out[name] = bytes;
    at += 46 + skip;
  }
  return true;
}
#endif

// The downloaded archive unpacks to the folder's files.
void ExpectArchiveHolds(const std::string& zip, const SampleFolder& folder, const std::string& top,
                        const TempDir& scratch) {
#ifdef _WIN32
  // The PowerShell double lays the archive out as Compress-Archive does: the
  // folder itself is the top entry.
  std::map<std::string, std::string> entries;
  ASSERT_TRUE(ReadStoredZip(zip, entries));
  EXPECT_EQ(entries[top + "/a.txt"], "alpha\n");
  EXPECT_EQ(entries[top + "/sub/b.bin"], folder.binary);
  EXPECT_EQ(entries.count(top + "/sub/"), 1u);
  (void)scratch;
#else
  // Info-ZIP ran inside the folder: its files are at the top.
  (void)top;
  const std::string file = WstrToUtf8(scratch.Write(L"got.zip", zip));
  const std::string out = WstrToUtf8(scratch.File(L"out"));
  ASSERT_EQ(std::system(("unzip -tqq '" + file + "' >/dev/null").c_str()), 0);
  ASSERT_EQ(std::system(("unzip -qq '" + file + "' -d '" + out + "'").c_str()), 0);
  EXPECT_EQ(ReadWholeFile(scratch.File(L"out/a.txt")), "alpha\n");
  EXPECT_EQ(ReadWholeFile(scratch.File(L"out/sub/b.bin")), folder.binary);
#endif
}

// Makes the compressor fail ("fail": exit 3 after writing half an archive)
// or hang ("hang": half an archive, then no end) for the life of the object.
class BrokenCompressor {
 public:
  explicit BrokenCompressor(const std::string& how)
#ifdef _WIN32
      : env_("VH_FAKE_POWERSHELL", how) {
  }
#else
      : env_("PATH", WstrToUtf8(bin_.path()) + ":" + (std::getenv("PATH") ? std::getenv("PATH") : "")) {
    // A zip earlier on PATH than Info-ZIP.
    const std::wstring zip = bin_.Write(
        L"zip", how == "hang" ? "#!/bin/sh\necho partial\nexec sleep 60\n"
                              : "#!/bin/sh\necho partial\nexit 3\n");
    chmod(WstrToUtf8(zip).c_str(), 0755);
  }
  TempDir bin_;
#endif
  ScopedEnv env_;
};

class ShareFolderTest : public ShareTest {
 protected:
  void TearDown() override {
    SetCompressTimeoutForTest(0);
    SetTunnelProbeForTest(nullptr);
    ShareTest::TearDown();
    DiscardTunnelMessages();
  }
  ScopedTempFolder temp_;
};

TEST_F(ShareFolderTest, FolderIsCompressedSharedAndDownloaded) {
  TempDir dir;
  const SampleFolder folder(dir, L"it's a folder");
  ASSERT_TRUE(AddPath(folder.path, 1, "", hwnd_));
  ExpectNoBox();
  auto item = Item(0);
  ASSERT_TRUE(item);
  EXPECT_TRUE(item->isFolder);
  EXPECT_EQ(item->tempZip, item->path);
  EXPECT_TRUE(std::regex_match(item->name, std::regex("it's a folder_[1-9][0-9]*\\.zip")))
      << item->name;
  EXPECT_EQ(item->path, temp_.ArchiveFolder() + kPathSeparator + Utf8ToWstr(item->name));
  EXPECT_EQ(Statuses(), (std::vector<std::wstring>{L"Compressing folder... (this may take a moment)",
                                                   L"LAN link ready and copied to clipboard."}));
  EXPECT_EQ(TestShell().pumps, 1);
#ifdef _WIN32
  // The exact command line, quotes doubled inside the single-quoted paths.
  const std::string cmd = ReadWholeFile(ProgramFolder() + L"\\powershell_cmdline.txt");
  EXPECT_EQ(cmd, WstrToUtf8(PowerShellCompressCommand(folder.path, item->path)));
  EXPECT_NE(cmd.find("it''s a folder_"), std::string::npos) << cmd;
#endif

  const Download d = FetchItem(item->slug);
  EXPECT_NE(d.head.find(" 200 "), std::string::npos) << d.head;
  EXPECT_EQ(d.body.size(), item->size);
  ExpectArchiveHolds(d.body, folder, "it's a folder", dir);

  item.reset();
  ClearHosted();
  EXPECT_TRUE(WaitUntil([&] { return FilesIn(temp_.ArchiveFolder()).empty(); }));
}

TEST_F(ShareFolderTest, CompressorFailureHangAndStopLeaveNothingBehind) {
  TempDir dir;
  const SampleFolder folder(dir, L"photos");
  SetCompressTimeoutForTest(1500);
  const struct {
    const char* how;
    bool stop;  // a stop request while the compressor runs: ended at once, nothing reported
    std::wstring text;
  } cases[] = {
      {"fail", false, kCompressFailed},
#ifdef _WIN32
      {"hang", false, kCompressFailed},
#else
      {"hang", false, L"Could not compress folder: zip did not finish within 10 minutes."},
#endif
      {"hang", true, L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.how) + (c.stop ? " + stop" : ""));
    TestShell().Clear();
    BrokenCompressor broken(c.how);
    SetCompressTimeoutForTest(c.stop ? 0 : 1500);
    std::thread stopper;
    if (c.stop) {
      stopper = std::thread([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        SetCompressionCancelled(true);
      });
    }
    EXPECT_FALSE(AddPath(folder.path, 1, "", hwnd_));
    if (stopper.joinable()) stopper.join();
    SetCompressionCancelled(false);
    std::vector<std::wstring> statuses{L"Compressing folder... (this may take a moment)"};
    if (c.stop) {
      ExpectNoBox();
    } else {
      ExpectOneBox(c.text, kMbIconError);
      statuses.push_back(L"Folder compression failed.");
    }
    EXPECT_EQ(Statuses(), statuses);
    EXPECT_EQ(HostedCount(), 0u);
    EXPECT_FALSE(g_serverRunning.load());
    EXPECT_TRUE(FilesIn(temp_.ArchiveFolder()).empty());
  }
}

TEST_F(ShareFolderTest, ArchiveRefusedOrDroppedIsDeleted) {
  TempDir dir;
  const SampleFolder folder(dir, L"docs");
  // Refused before its item exists.
  EXPECT_FALSE(AddPath(folder.path, 1, "support", hwnd_));
  ExpectOneBox(L"That custom link is reserved. Choose a different one.", kMbIconWarning);
  EXPECT_TRUE(FilesIn(temp_.ArchiveFolder()).empty());

  // Dropped after its item was built: no slug could be chosen.
  TestShell().Clear();
  ASSERT_TRUE(StartServerIfNeeded(hwnd_));
  const RandomSourceFn old = SetRandomSourceForTest([](void*, size_t) { return false; });
  EXPECT_FALSE(AddPath(folder.path, 1, "", hwnd_));
  SetRandomSourceForTest(old);
  ExpectOneBox(L"Could not generate a secure link. Please try again.", kMbIconError);
  EXPECT_EQ(HostedCount(), 0u);
  EXPECT_TRUE(FilesIn(temp_.ArchiveFolder()).empty());
}

TEST_F(ShareFolderTest, EmptyLastComponentNamesTheArchiveFolder) {
#ifdef _WIN32
  // A drive root has no last component; the double cannot zip a whole drive,
  // so only the archive's name is looked at, in the recorded command line.
  ScopedEnv mode("VH_FAKE_POWERSHELL", "noarchive");
  EXPECT_FALSE(AddPath(L"C:\\", 1, "", hwnd_));
  const std::string cmd = ReadWholeFile(ProgramFolder() + L"\\powershell_cmdline.txt");
  const std::string dest = "vornhale\\folder_";
  EXPECT_NE(cmd.find(dest), std::string::npos) << cmd;
  ExpectOneBox(L"File not found.", kMbIconError);  // exit 0 but no archive
#else
  TempDir dir;
  const SampleFolder folder(dir, L"x");
  ASSERT_TRUE(AddPath(folder.path + L"/", 1, "", hwnd_));  // trailing separator: still "x"
  EXPECT_TRUE(std::regex_match(Item(0)->name, std::regex("x_[0-9]+\\.zip"))) << Item(0)->name;
  ClearHosted();
  TestShell().Clear();
  BrokenCompressor broken("fail");
  EXPECT_FALSE(AddPath(L"/", 1, "", hwnd_));
  ExpectOneBox(kCompressFailed, kMbIconError);
#endif
  EXPECT_TRUE(FilesIn(temp_.ArchiveFolder()).empty());
}

#ifndef _WIN32
// Archive names are taken exclusively: a name that exists (another instance's
// archive) moves on to the next number and is never touched.
TEST(ArchiveSeam, TakenNameMovesOnAndStaysUntouched) {
  TempDir dir;
  const std::wstring taken = dir.Write(L"x_5.zip", "theirs");
  const std::wstring mine = ReserveArchivePath(dir.path(), L"x", 5);
  EXPECT_EQ(mine, dir.File(L"x_6.zip"));
  struct stat st {};
  ASSERT_EQ(stat(WstrToUtf8(mine).c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(ReadWholeFile(taken), "theirs");
  EXPECT_EQ(ReserveArchivePath(dir.File(L"missing"), L"x", 5), L"");
}

// Another account owns the archives' usual folder (or a link stands in its
// place): sharing still works, from a private folder beside it.
TEST_F(ShareFolderTest, ForeignArchiveFolderIsLeftAlone) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give a folder to another account";
  TempDir dir;
  const SampleFolder folder(dir, L"pics");
  const std::string usual = WstrToUtf8(temp_.ArchiveFolder());
  for (const bool asLink : {false, true}) {
    SCOPED_TRACE(asLink ? "link" : "foreign owner");
    if (asLink) {
      ASSERT_EQ(rmdir(usual.c_str()), 0);
      ASSERT_EQ(symlink(WstrToUtf8(dir.path()).c_str(), usual.c_str()), 0);
    } else {
      ASSERT_EQ(mkdir(usual.c_str(), 0777), 0);
      ASSERT_EQ(chown(usual.c_str(), 12345, 12345), 0);
    }
    ASSERT_TRUE(AddPath(folder.path, 1, "", hwnd_));
    const std::wstring archive = Item(0)->path;
    EXPECT_EQ(archive.rfind(temp_.ArchiveFolder() + L"-", 0), 0u) << WstrToUtf8(archive);
    struct stat st {};
    ASSERT_EQ(stat(WstrToUtf8(archive.substr(0, archive.rfind(L'/'))).c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, geteuid());
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ClearHosted();
    EXPECT_FALSE(PathExists(archive));
    ReleaseArchiveFolder();
    for (const auto& left : FilesIn(temp_.Path()))
      EXPECT_NE(left.rfind(temp_.ArchiveFolder() + L"-", 0), 0u) << "outlived the program: " << WstrToUtf8(left);
  }
  unlink(usual.c_str());
}

// An empty folder is an empty archive; a folder holding the archives' folder
// does not archive the archive; a failing compressor whose exit code the
// system collected behind our back (SIGCHLD ignored) is still a failure.
TEST_F(ShareFolderTest, EmptyFolderAndReapedCompressor) {
  TempDir dir;
  const std::wstring empty = dir.File(L"empty");
  fs::create_directories(fs::path(empty));
  ASSERT_TRUE(AddPath(empty, 1, "", hwnd_));
  const Download d = FetchItem(Item(0)->slug);
  EXPECT_EQ(d.body, std::string("PK\x05\x06", 4) + std::string(18, '\0'));
  ClearHosted();
  StopServer();

  // A folder that holds the archives' folder: the archive never goes into itself.
  WriteFileAt(temp_.Path() + L"/a.txt", "alpha");
  ASSERT_TRUE(AddPath(temp_.Path(), 1, "", hwnd_));
  const Download whole = FetchItem(Item(0)->slug);
  EXPECT_NE(whole.body.find("a.txt"), std::string::npos);
  EXPECT_EQ(whole.body.find(".zip"), std::string::npos);
  ClearHosted();
  StopServer();

  TestShell().Clear();
  const SampleFolder folder(dir, L"docs");
  BrokenCompressor broken("fail");
  const auto old = signal(SIGCHLD, SIG_IGN);
  EXPECT_FALSE(AddPath(folder.path, 1, "", hwnd_));
  signal(SIGCHLD, old);
  ExpectOneBox(L"Could not compress folder: zip exited with code 1.", kMbIconError);
  EXPECT_TRUE(FilesIn(temp_.ArchiveFolder()).empty());
}
#endif

TEST_F(ShareFolderTest, InternetItemWaitsForTheTunnelAddress) {
  SetTunnelProbeForTest([](const std::wstring&) { return true; });
  FakeTunnel fake("sleep 500\nprint INF |  https://share-item.trycloudflare.com  |\nhang\n");
  TempDir dir;
  const std::wstring f = dir.Write(L"inet.txt", "i");
  ASSERT_TRUE(AddPath(f, 0, "", hwnd_));
  ExpectNoBox();
  auto first = Item(0);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->mode, 0);
  EXPECT_EQ(first->url, "");  // "(waiting for tunnel...)" in the list
  EXPECT_EQ(Statuses(), std::vector<std::wstring>{L"Starting Cloudflare tunnel (up to 60s)..."});
  EXPECT_TRUE(g_tunRunning.load());
  EXPECT_EQ(g_tunRetryLeft.load(), 3);
  EXPECT_FALSE(g_listenAllIfaces.load());  // Internet items only: loopback

  const auto events = PumpTunnel(hwnd_, WM_TUNNEL_READY, 15000, true);
  ASSERT_FALSE(events.empty());
  ASSERT_EQ(events.back().msg, WM_TUNNEL_READY);
  EXPECT_EQ(first->url, "https://share-item.trycloudflare.com/" + first->slug);

  // A second Internet item while the tunnel is published: linked at once.
  TestShell().Clear();
  ASSERT_TRUE(AddPath(f, 0, "second", hwnd_));
  EXPECT_EQ(Item(1)->url, "https://share-item.trycloudflare.com/second");
  EXPECT_EQ(Statuses(), std::vector<std::wstring>{L"Link ready and copied to clipboard."});
  EXPECT_EQ(fake.Pids().size(), 1u);
}

}  // namespace
