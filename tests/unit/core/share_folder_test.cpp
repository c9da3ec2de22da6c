// Folders through the real compressor (the archive writer; under Wine a PowerShell double), Internet items (a double).
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "core/events.h"
#include "fake_tunnel.h"
#include "platform/hex.h"
#include "platform/module.h"
#include "platform/random.h"
#include "recording_shell.h"
#include "sharing/archive.h"
#include "sharing/compress.h"
#ifndef _WIN32
#include "sharing/folder_zip.h"
#endif
#include "sharing/session.h"
#include "tunnel/reader.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <random>
#endif

namespace fs = std::filesystem;

namespace {
const wchar_t kCompressing[] = L"Compressing folder... (this may take a moment)";
#ifdef _WIN32
const wchar_t kCompressFailed[] = L"Could not compress folder.\n\nPowerShell's Compress-Archive is required. Make sure "
                                  L"PowerShell is installed and the folder isn't in use.";
const wchar_t* const kCompressHung = kCompressFailed;
const std::wstring kArchiveLeaf = L"vornhale";
const std::wstring kLeftArchive = L"left_3.ZIP";  // archive names compare without case
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
  std::wstring Folder(const std::wstring& sample) const { return sample; }  // what to compress
};
constexpr unsigned kHangTimeoutMs = 1500;
#else
const wchar_t kCompressFailed[] = L"Could not compress folder: writing the archive failed: File too large.";
const wchar_t kCompressHung[] = L"Could not compress folder: archiving did not finish within 10 minutes.";
const std::wstring kArchiveLeaf = L"vornhale-" + std::to_wstring(geteuid());
const std::wstring kLeftArchive = L"left_3.zip";
fs::path FsPath(const std::wstring& p) { return fs::path(WstrToUtf8(p)); }  // names need not suit the C locale
// "fail": the archive's write fails (a file size limit); "hang": a folder that takes seconds to archive.
struct BrokenCompressor {
  explicit BrokenCompressor(const std::string& how) {
    if (how == "hang") {
      for (int i = 0; i < 100; ++i) {  // 800 MB of zeros, sparse: seconds of deflating, no disk
        const std::string f = WstrToUtf8(big.path()) + "/zeros" + std::to_string(i);
        EXPECT_EQ(truncate(WstrToUtf8(big.Write(Utf8ToWstr("zeros" + std::to_string(i)), "")).c_str(), 8 << 20), 0) << f;
      }
      return;
    }
    signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit low = old;
    low.rlim_cur = 100;
    setrlimit(RLIMIT_FSIZE, &low);
    limited = true;
  }
  ~BrokenCompressor() { if (limited) setrlimit(RLIMIT_FSIZE, &old); }
  std::wstring Folder(const std::wstring& sample) const { return limited ? sample : big.path(); }
  TempDir big;
  rlimit old {};
  bool limited = false;
};
constexpr unsigned kHangTimeoutMs = 500;  // the big folder takes seconds
#endif

#ifndef _WIN32
// The lines a forked child writes to the pipe `fds` until it ends; closes the pipe and reaps the child.
std::vector<std::string> ReadLinesOf(pid_t child, int fds[2], int& status) {
  close(fds[1]);
  std::string out;
  char buf[4096];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  waitpid(child, &status, 0);
  std::vector<std::string> lines;
  for (size_t at = 0, nl; (nl = out.find('\n', at)) != std::string::npos; at = nl + 1) lines.push_back(out.substr(at, nl - at));
  return lines;
}
// Every entry of a zip as Python's zipfile reads it (after its testzip and `unzip -t` passed): name hex, "=",
// the bytes (hex; over 4 KiB: "#size", and "!" when they hold `marker`), "+" for the UTF-8 flag.
std::vector<std::string> ZipListing(const std::string& zip, const std::string& marker = "-") {
  const std::string script =
      "import sys, zipfile\n"
      "z = zipfile.ZipFile(sys.argv[1]); assert z.testzip() is None\n"
      "for i in z.infolist():\n"
      "  d = z.read(i); big = len(d) > 4096\n"
      "  print(i.filename.encode().hex() + '=' + ('#%d' % len(d) if big else d.hex())\n"
      "        + ('!' if sys.argv[2].encode() in d else '') + ('+' if i.flag_bits & 0x800 else ''))\n";
  std::vector<std::string> lines;
  std::string cmd = "python3 -c \"$0\" \"$1\" \"$2\" && { unzip -tqq \"$1\" >/dev/null || [ \"$(stat -c %s \"$1\")\" = 22 ]; }";
  int fds[2];
  if (pipe(fds) != 0) return {"pipe failed"};
  if (const pid_t child = fork(); child == 0) {
    dup2(fds[1], 1), close(fds[0]), close(fds[1]);
    execl("/bin/sh", "sh", "-c", cmd.c_str(), script.c_str(), zip.c_str(), marker.c_str(), (char*)nullptr);
    _exit(127);
  } else {
    int status = 0;
    lines = ReadLinesOf(child, fds, status);
    if (status != 0) lines.push_back("readers failed: " + std::to_string(status));
  }
  return lines;
}
std::string Hex(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) AppendHexByte(out, c, true);
  return out;
}
// The ZipListing line of an entry with these bytes (a name beyond ASCII carries the UTF-8 flag).
std::string ZipLine(const std::string& name, const std::string& bytes) {
  const bool ascii = std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  return Hex(name) + "=" + (bytes.size() > 4096 ? "#" + std::to_string(bytes.size()) : Hex(bytes)) + (ascii ? "" : "+");
}
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
    ASSERT_TRUE(AddPath(folder, ShareMode::kLan, "", hwnd_));
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
    EXPECT_EQ(zip.size(), item->size);
    EXPECT_EQ(ZipListing(WstrToUtf8(item->path)), std::vector<std::string>{ZipLine(stem + "/a.txt", "alpha\n")});
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
    SetCompressTimeoutForTest(c.stop ? 0 : kHangTimeoutMs);
    std::thread stopper([&] {
      if (c.stop) std::this_thread::sleep_for(std::chrono::milliseconds(300)), SetCompressionCancelled(true);
    });
    EXPECT_FALSE(AddPath(broken.Folder(folder), ShareMode::kLan, "", hwnd_));
    stopper.join();
    SetCompressionCancelled(false);
    ExpectBox(c.text, kMbIconError);
    EXPECT_EQ(Statuses(), (c.stop ? std::vector<std::wstring>{kCompressing}
                                  : std::vector<std::wstring>{kCompressing, L"Folder compression failed."}));
    EXPECT_FALSE(HostedCount() || ServerRunning());
    EXPECT_TRUE(NoArchives());
  }
  TestShell().Clear();
  EXPECT_FALSE(AddPath(folder, ShareMode::kLan, "support", hwnd_));
  ExpectBox(L"That custom link is reserved. Choose a different one.", kMbIconWarning);
  EXPECT_TRUE(NoArchives());
  TestShell().Clear();
  const RandomSourceFn old = SetRandomSourceForTest([](void*, size_t) { return false; });
  EXPECT_FALSE(AddPath(folder, ShareMode::kLan, "", hwnd_));
  SetRandomSourceForTest(old);
  ExpectBox(L"Could not generate a secure link. Please try again.", kMbIconError);
  EXPECT_EQ(HostedCount(), 0u);
  EXPECT_TRUE(NoArchives());
}

// A start-up sweep deletes what no instance holds: an archive an item holds (POSIX: or a reserved one) stays;
// other names (POSIX: folders and links) stay.
TEST_F(ShareFolderTest, StartUpSweepKeepsLiveArchives) {
  const std::wstring dir = ::ArchiveFolder() + kPathSeparator, held = WriteFileAt(dir + L"held_2.zip", "z");
  const std::wstring left = WriteFileAt(dir + kLeftArchive, "old"), other = WriteFileAt(dir + L"notes.zipped", "n");
  ScopedFile reserved, item(OpenFileShareRead(held, HoldKind::kReadAndDelete));
  ASSERT_TRUE(item.valid() && HoldArchive(item.get()));
  std::wstring live;
#ifndef _WIN32
  live = ReserveArchivePath(::ArchiveFolder(), L"live", 1, reserved);
  const std::wstring sub = dir + L"sub.zip", link = dir + L"l.zip";
  ASSERT_EQ(mkdir(WstrToUtf8(sub).c_str(), 0700) + symlink(WstrToUtf8(left).c_str(), WstrToUtf8(link).c_str()), 0);
#endif
  EXPECT_EQ(SweepLeftArchives(), 1);
  EXPECT_EQ(std::tuple(PathExists(held), PathExists(left), PathExists(other), live.empty() || PathExists(live)),
            std::tuple(true, false, true, true));
#ifndef _WIN32
  struct stat st {};
  EXPECT_TRUE(PathExists(sub) && lstat(WstrToUtf8(link).c_str(), &st) == 0) << "a folder or a link was taken";
  unlink(WstrToUtf8(link).c_str()), rmdir(WstrToUtf8(sub).c_str());
#endif
  reserved.reset(), item.reset();
  EXPECT_EQ(SweepLeftArchives(), live.empty() ? 1 : 2);
  DeleteFilePath(other);
}

#ifndef _WIN32
// Names are taken exclusively (0600): a taken one (another instance's) is skipped and never touched.
TEST(ArchiveSeam, TakenNameMovesOnAndStaysUntouched) {
  TempDir dir;
  ScopedFile hold;
  const std::wstring taken = dir.Write(L"x_5.zip", "theirs"), mine = ReserveArchivePath(dir.path(), L"x", 5, hold);
  struct stat st {};
  ASSERT_EQ(stat(WstrToUtf8(mine).c_str(), &st), 0);
  EXPECT_EQ(WstrToUtf8(mine) + " " + std::to_string(st.st_size) + " " + std::to_string(st.st_mode & 0777) + " " +
                ReadWholeFile(taken), WstrToUtf8(dir.File(L"x_6.zip")) + " 0 384 theirs");  // 384: 0600
  EXPECT_EQ(ReserveArchivePath(dir.File(L"missing"), L"x", 5, hold), L"");
  EXPECT_FALSE(hold.valid());
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
    ASSERT_TRUE(AddPath(folder, ShareMode::kLan, "", hwnd_));
    const std::wstring archive = Item(0)->path, own = archive.substr(0, archive.rfind(L'/'));
    struct stat st {};
    ASSERT_EQ(stat(WstrToUtf8(own).c_str(), &st), 0);
    EXPECT_EQ(std::tuple(own.rfind(usualW + L"-", 0), st.st_uid, st.st_mode & 0777), std::tuple(0u, 0u, 0700u));
    ClearHosted(), ReleaseArchiveFolder();
    EXPECT_FALSE(PathExists(archive) || PathExists(own)) << "outlived the program: " << WstrToUtf8(own);
  }
  unlink(usual.c_str());
}
// What the archive writer reported and wrote: skipped paths (inside the folder) with their reasons, the end, the listing.
struct ZipRun {
  std::vector<std::string> skipped;
  ZipEnd end = ZipEnd::kDone;
  std::vector<std::string> listing;
};
std::string SkipLine(const std::string& rel, SkipReason why, int error = 0) {
  return rel + " " + std::to_string(static_cast<int>(why)) + " " + std::to_string(error);
}
// Runs the writer on `folder` (as the user `uid` when not -1: in a child process, reporting through a pipe).
ZipRun RunZip(const std::string& folder, const std::string& archive, int uid = -1, FolderZipHooks hooks = {}) {
  ZipRun run;
  if (hooks.capBytes == 0) hooks.capBytes = 1ull << 30;
  int fds[2] = {-1, -1};
  if (uid >= 0 && pipe(fds) != 0) return run;
  hooks.skipped = [&](const std::string& path, SkipReason why, int error) {
    const std::string line = SkipLine(path.substr(folder.size() + 1), why, error);
    if (uid < 0) return run.skipped.push_back(line);
    const std::string record = Hex(line) + "\n";
    if (write(fds[1], record.data(), record.size()) < 0) _exit(99);
  };
  int error = 0;
  if (uid < 0) {
    run.end = WriteFolderZip(folder, archive, hooks, error);
  } else if (const pid_t child = fork(); child == 0) {
    close(fds[0]);
    if (setgroups(0, nullptr) || setresgid(uid, uid, uid) || setresuid(uid, uid, uid)) _exit(98);
    _exit(static_cast<int>(WriteFolderZip(folder, archive, hooks, error)));
  } else {
    int status = 0;
    for (const std::string& hex : ReadLinesOf(child, fds, status)) {
      std::string line;
      for (size_t i = 0; i + 1 < hex.size(); i += 2)
        line.push_back(static_cast<char>(HexDigitValue(hex[i]) * 16 + HexDigitValue(hex[i + 1])));
      run.skipped.push_back(line);
    }
    run.end = static_cast<ZipEnd>(WEXITSTATUS(status));
  }
  if (run.end == ZipEnd::kDone) run.listing = ZipListing(archive);
  return run;
}

// Paths longer than PATH_MAX are made (and removed) through descriptors.
std::string MakeChain(int dirFd, const std::string& component, int levels, const std::string& leaf, const std::string& bytes) {
  std::string rel;
  int fd = dup(dirFd);
  for (int i = 0; i < levels; ++i) {
    mkdirat(fd, component.c_str(), 0755);
    const int next = openat(fd, component.c_str(), O_RDONLY | O_DIRECTORY);
    close(fd), fd = next;
    rel += component + "/";
  }
  const int f = openat(fd, leaf.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  EXPECT_EQ(write(f, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  close(f), close(fd);
  return rel + leaf;
}
void RemoveTree(const std::string& path) { EXPECT_EQ(std::system(("rm -rf -- '" + path + "'").c_str()), 0); }

// One row per kind of entry: archived under "shared/" with its exact bytes, or named with its reason; never missing.
// Run as another user when root, so that modes keep it out.
TEST(FolderZip, EveryEntryArchivedWithItsBytesOrNamed) {
  constexpr int kOther = 54321;
  TempDir tmp;
  const std::string base = WstrToUtf8(tmp.path()), root = base + "/shared", archive = base + "/out/a.zip";
  const int uid = geteuid() == 0 ? kOther : -1;
  ASSERT_EQ(mkdir(root.c_str(), 0755) + mkdir((base + "/out").c_str(), 0700) + chmod(base.c_str(), 0755), 0);
  WriteFileAt(Utf8ToWstr(archive), ""), WriteFileAt(Utf8ToWstr(base + "/outside.txt"), "OUTSIDE");
  if (uid >= 0) {
    ASSERT_EQ(chown((base + "/out").c_str(), uid, uid) + chown(archive.c_str(), uid, uid), 0);
  }
  const int rootFd = open(root.c_str(), O_RDONLY | O_DIRECTORY);
  const auto file = [&](const std::string& rel, const std::string& bytes) { MakeChain(rootFd, "", 0, rel, bytes); };
  std::vector<std::string> want = {ZipLine("shared/sub/", "")};  // sorted by name below
  const auto stored = [&](const std::string& rel, const std::string& bytes) { want.push_back(ZipLine("shared/" + rel, bytes)); };
  std::vector<std::string> skipped;
  mkdir((root + "/sub").c_str(), 0755);
  const std::string big(9 << 20, 'b');  // past the in-memory spool
  const struct { std::string name, bytes; } plain[] = {
      {"a.txt", "alpha\n"}, {"-", "dash"}, {"new\nline", "nl"}, {"esc\x1b]52;c;eA==\x07", "osc"},
      {"sub/b.bin", "bravo"}, {"big.bin", big}, {"b\xC3\xA4r \xE2\x82\xAC", "utf8"}};
  for (const auto& f : plain) file(f.name, f.bytes), stored(f.name, f.bytes);
  file("bad\xFF", "x"), skipped.push_back(SkipLine("bad\xFF", SkipReason::kNotUtf8));
  mkfifo((root + "/fifo").c_str(), 0644), skipped.push_back(SkipLine("fifo", SkipReason::kFifo));
  mknod((root + "/sock").c_str(), S_IFSOCK | 0644, 0), skipped.push_back(SkipLine("sock", SkipReason::kSocket));
  const std::pair<std::string, std::string> links[] = {  // name, target; stored as a copy when it stays inside
      {"in", "sub/b.bin"}, {"sub/up", "../a.txt"}, {"abs-in", root + "/a.txt"}, {"out", "../outside.txt"},
      {"abs-out", base + "/outside.txt"}, {"to-sub", "sub"}, {"to-root", root}, {"none", "nothing"}, {"loop", "loop"},
      {"via-link", "in"}, {"via-dir", "to-sub/b.bin"}, {"sub/round", "../sub/../a.txt"}, {"sub/escape", "../../outside.txt"}};
  for (const auto& [name, target] : links) ASSERT_EQ(symlink(target.c_str(), (root + "/" + name).c_str()), 0) << name;
  stored("in", "bravo"), stored("sub/up", "alpha\n"), stored("abs-in", "alpha\n"), stored("via-link", "bravo");
  stored("via-dir", "bravo"), stored("sub/round", "alpha\n"), skipped.push_back(SkipLine("sub/escape", SkipReason::kLinkOutside));
  skipped.push_back(SkipLine("out", SkipReason::kLinkOutside)), skipped.push_back(SkipLine("abs-out", SkipReason::kLinkOutside));
  skipped.push_back(SkipLine("to-sub", SkipReason::kLinkToFolder)), skipped.push_back(SkipLine("to-root", SkipReason::kLinkToFolder));
  skipped.push_back(SkipLine("none", SkipReason::kLinkBroken)), skipped.push_back(SkipLine("loop", SkipReason::kLinkBroken));
  // Unreadable for the archiving user: a file and a folder.
  file("secret.txt", "s"), chmod((root + "/secret.txt").c_str(), 0600);
  mkdir((root + "/locked").c_str(), 0700), file("locked/x", "x");
  if (uid < 0) chmod((root + "/secret.txt").c_str(), 0), chmod((root + "/locked").c_str(), 0);
  skipped.push_back(SkipLine("secret.txt", SkipReason::kUnreadable, EACCES));
  skipped.push_back(SkipLine("locked", SkipReason::kUnreadable, EACCES));
  // Paths past 4096 bytes (which unzip cuts and no system extracts) and folders below the deepest level are named.
  const std::string longPath = MakeChain(rootFd, std::string(120, 'L'), 40, "deep.txt", "deep");
  for (size_t at = 0; (at = longPath.find('/', at)) != std::string::npos; ++at) {
    if (std::string("shared/").size() + at + 1 > 4095) {
      skipped.push_back(SkipLine(longPath.substr(0, at), SkipReason::kTooDeep));
      break;
    }
    want.push_back(ZipLine("shared/" + longPath.substr(0, at + 1), ""));
  }
  const std::string tooDeep = MakeChain(rootFd, "d", kZipMaxDepth + 1, "f", "f");
  for (int i = 1; i <= kZipMaxDepth; ++i) want.push_back(ZipLine("shared/" + tooDeep.substr(0, 2 * i), ""));
  skipped.push_back(SkipLine(tooDeep.substr(0, 2 * kZipMaxDepth + 1), SkipReason::kTooDeep));
  close(rootFd);

  std::sort(want.begin(), want.end()), std::sort(skipped.begin(), skipped.end());
  const auto without = [](std::vector<std::string> a, const std::vector<std::string>& b) {  // a's lines not in b, cut
    std::erase_if(a, [&](const std::string& x) { return std::find(b.begin(), b.end(), x) != b.end(); });
    for (std::string& x : a) x = x.substr(0, 120);
    return a;
  };
  for (const bool byWalk : {false, true}) {  // links resolved by openat2, and as where it is missing
    SCOPED_TRACE(byWalk ? "descriptor walk" : "openat2");
    FolderZipHooks hooks;
    hooks.resolveByWalk = byWalk;
    const ZipRun run = RunZip(root, archive, uid, hooks);
    ASSERT_EQ(run.end, ZipEnd::kDone);
    std::vector<std::string> got = run.listing, gotSkipped = run.skipped;
    std::sort(got.begin(), got.end()), std::sort(gotSkipped.begin(), gotSkipped.end());
    EXPECT_EQ(without(want, got), std::vector<std::string>{}) << "missing from the archive";
    EXPECT_EQ(without(got, want), std::vector<std::string>{}) << "in the archive unasked";
    EXPECT_EQ(got.size(), want.size());
    EXPECT_EQ(gotSkipped, skipped);
  }
  RemoveTree(root);
}

// How a run ends: an empty folder is the 22-byte end record; past the cap, on a stop or a time-out it ends early. A
// file that grows, or is rewritten at its size, while it is read is named and left out (the archive stays empty).
TEST(FolderZip, EndsAndFilesChangedWhileRead) {
  TempDir tmp;
  const std::string base = WstrToUtf8(tmp.path()), archive = base + "/a.zip", kEmptyZip = std::string("PK\5\6") + std::string(18, '\0');
  std::string noise(2 << 20, '\0');
  std::mt19937 gen(7);
  for (char& c : noise) c = static_cast<char>(gen());
  const auto append = [&] { std::ofstream(base + "/grow/f", std::ios::app) << "more"; };
  const auto rewrite = [&] {  // same size, later time
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::fstream(base + "/same/f", std::ios::in | std::ios::out | std::ios::binary).write("XXXX", 4);
  };
  int asked = 0;
  const struct { const char* folder; uint64_t cap; CompressStop third; std::function<void()> atThird; ZipEnd end; std::string skipped; } cases[] = {
      {"empty", 0, CompressStop::kGoOn, nullptr, ZipEnd::kDone, ""},
      {"full", 1 << 20, CompressStop::kGoOn, nullptr, ZipEnd::kTooLarge, ""},
      {"full", 0, CompressStop::kCancelled, nullptr, ZipEnd::kCancelled, ""},
      {"full", 0, CompressStop::kTimedOut, nullptr, ZipEnd::kTimedOut, ""},
      {"missing", 0, CompressStop::kGoOn, nullptr, ZipEnd::kNoFolder, ""},
      {"grow", 0, CompressStop::kGoOn, append, ZipEnd::kDone, SkipLine("f", SkipReason::kChanged)},
      {"same", 0, CompressStop::kGoOn, rewrite, ZipEnd::kDone, SkipLine("f", SkipReason::kChanged)}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder + std::to_string(static_cast<int>(c.end)));
    fs::remove_all(base + "/" + c.folder);
    if (c.folder != std::string("missing")) fs::create_directories(base + "/" + c.folder);
    if (c.folder != std::string("empty") && c.folder != std::string("missing")) {
      WriteFileAt(Utf8ToWstr(base + "/" + c.folder + "/f"), noise);
    }
    WriteFileAt(Utf8ToWstr(archive), "old bytes");
    FolderZipHooks hooks;
    hooks.capBytes = c.cap;
    asked = 0;
    hooks.stop = [&] {
      if (++asked == 3 && c.atThird) c.atThird();
      return asked >= 3 ? c.third : CompressStop::kGoOn;
    };
    const ZipRun run = RunZip(base + "/" + c.folder, archive, -1, hooks);
    EXPECT_EQ(run.end, c.end);
    EXPECT_EQ(run.skipped, c.skipped.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.skipped});
    if (c.end == ZipEnd::kDone) {
      EXPECT_EQ(ReadWholeFile(Utf8ToWstr(archive)), kEmptyZip);
    }
    if (c.third != CompressStop::kGoOn) {
      EXPECT_EQ(asked, 3);  // nothing more read after the answer
    }
  }
}

// A helper swaps small files for links to an outside file and back every few milliseconds: no entry ever holds the
// outside bytes; each small file is stored as itself or named.
TEST(FolderZip, SwappedLinksNeverLeadOutside) {
  TempDir tmp;
  const std::string base = WstrToUtf8(tmp.path()), root = base + "/shared", archive = base + "/a.zip";
  const std::string secret = "OUTSIDE-SECRET";
  fs::create_directories(root);
  WriteFileAt(Utf8ToWstr(base + "/outside.txt"), secret + std::string(100, 'o'));
  std::string large(12 << 20, 'L');
  WriteFileAt(Utf8ToWstr(root + "/large.bin"), large);
  constexpr int kSmall = 32;
  std::atomic<bool> done{false};
  std::thread swapper([&] {
    for (int round = 0; !done.load(); ++round) {
      for (int i = 0; i < kSmall; ++i) {
        const std::string name = root + "/s" + std::to_string(i), spare = base + "/spare" + std::to_string(i);
        if (round % 2 == 0) {
          unlink(spare.c_str()), symlink((base + "/outside.txt").c_str(), spare.c_str());
        } else {
          WriteFileAt(Utf8ToWstr(spare), "small " + std::to_string(i));
        }
        rename(spare.c_str(), name.c_str());
      }
    }
  });
  int storedSmall = 0;
  for (int run = 0; run < 6; ++run) {
    WriteFileAt(Utf8ToWstr(archive), "");
    FolderZipHooks hooks;
    hooks.resolveByWalk = run % 2 == 1;  // every other run as where openat2 is missing
    const ZipRun r = RunZip(root, archive, -1, hooks);
    ASSERT_EQ(r.end, ZipEnd::kDone);
    for (const std::string& line : ZipListing(archive, secret)) {
      EXPECT_EQ(line.find('!'), std::string::npos) << line;
      storedSmall += line.find(Hex("small ")) != std::string::npos;
    }
    for (const std::string& s : r.skipped) {  // swapped while looked at, or a link at that moment
      const std::string name = s.substr(0, s.find(' '));
      EXPECT_TRUE(s == SkipLine(name, SkipReason::kLinkOutside) || s.rfind(SkipLine(name, SkipReason::kChanged, 0).substr(0, name.size() + 2), 0) == 0) << s;
    }
  }
  done = true;
  swapper.join();
  EXPECT_GT(storedSmall, 0);  // the race was run with the files in place, too
}
#endif

// Internet items wait for the address, later ones are linked at once; the last one stopped ends the client only.
TEST_F(ShareFolderTest, InternetItemsFollowTheTunnel) {
  SetTunnelProbeForTest([](const std::wstring&) { return true; });
  FakeTunnel fake("sleep 500\nprint INF |  https://share-item.trycloudflare.com  |\nhang\n");
  const std::wstring f = tmp_.Write(L"inet.txt", "i");
  ASSERT_TRUE(AddPath(f, ShareMode::kLan, "lan-stays", hwnd_));
  TestShell().Clear();
  SetStagedPaths({f});
  ASSERT_EQ(StartSharing(ShareMode::kInternet, "first"), 1);
  ShowNewestShare(hwnd_);
  ExpectBox(L"");
  EXPECT_TRUE(Item(1)->url.empty() && TestShell().clipboard.empty());  // "(waiting for tunnel...)", nothing copied
  EXPECT_EQ(Statuses(), std::vector<std::wstring>{L"Starting Cloudflare tunnel (up to 60s)..."});
  EXPECT_EQ(TunnelRestartsLeft(), 3);
  ASSERT_EQ(PumpTunnel(hwnd_, EventKind::kTunnelReady, 15000, true).size(), 2u);
  EXPECT_EQ(Item(1)->url, "https://share-item.trycloudflare.com/first");
  TestShell().Clear();
  ASSERT_TRUE(AddPath(f, ShareMode::kInternet, "second", hwnd_));
  EXPECT_EQ(Item(2)->url, "https://share-item.trycloudflare.com/second");
  EXPECT_EQ(Statuses(), std::vector<std::wstring>{L"Link ready and copied to clipboard."});
  ASSERT_EQ(fake.Pids().size(), 1u);
  StopSelected(hwnd_, 2);
  EXPECT_TRUE(TunnelRunning());
  StopSelected(hwnd_, 1);
  EXPECT_FALSE(TunnelRunning());
  EXPECT_TRUE(WaitProcessGone(fake.Pids()[0], 5000));
  EXPECT_EQ(FetchBody("lan-stays"), "i");
}
}  // namespace
