// The child-process seam, with the fake tunnel client as the child: merged
// output, exit codes, forced end, broken pipes, what the child inherits, the
// kill-on-close job, and command-line splitting.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

#include "fake_tunnel.h"
#include "platform/command_line.h"
#include "platform/process.h"
#include "platform/text.h"

namespace {

std::wstring FakeCommand() { return L"\"" + FakeClientPath() + L"\" tunnel"; }

// Everything the child writes until its output ends (bounded).
std::string ReadUntilBroken(PipeHandle pipe, unsigned timeoutMs) {
  std::string out;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  char buf[1024];
  while (std::chrono::steady_clock::now() < deadline) {
    uint32_t avail = 0;
    if (!PeekPipe(pipe, avail)) break;
    if (avail == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    const int64_t n = ReadPipe(pipe, buf, avail < sizeof buf ? avail : sizeof buf);
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

TEST(ProcessSeam, MergedOutputAndExitCode) {
  FakeTunnel fake("print out-1\neprint err-1\nprintcr out-2\nexit 7\n");
  ChildProcess child;
  ScopedPipe out;
  ASSERT_TRUE(StartHiddenProcess(FakeCommand(), child, &out));
  EXPECT_NE(child.pid, 0u);
  EXPECT_EQ(ReadUntilBroken(out.get(), 10000), "out-1\nerr-1\nout-2\r\n");
  uint32_t avail = 0;
  EXPECT_FALSE(PeekPipe(out.get(), avail));  // broken and empty
  ASSERT_TRUE(WaitChild(child, 5000));
  uint32_t code = 99;
  ASSERT_TRUE(ChildExitCode(child, code));
  EXPECT_EQ(code, 7u);
  ASSERT_EQ(fake.Pids().size(), 1u);
  EXPECT_EQ(fake.Pids()[0], child.pid);
}

// Extra environment entries reach the child on top of the program's own and
// replace a variable of the same name: the fake reads its script from the
// folder the entry names, not from the one the program's environment names.
TEST(ProcessSeam, ExtraEnvironmentReplacesAVariable) {
  FakeTunnel fake("print from-extra-env\nexit 0\n");
  FakeTunnel other("print from-program-env\nexit 0\n");  // the program's variable names this one
  const std::vector<std::wstring> env{L"VH_FAKE_TUNNEL_DIR=" + fake.Folder(), L"VH_UNUSED=a=b"};
  ChildProcess child;
  ScopedPipe out;
  ASSERT_TRUE(StartHiddenProcess(FakeCommand(), child, &out, &env));
  EXPECT_EQ(ReadUntilBroken(out.get(), 10000), "from-extra-env\n");
  ASSERT_TRUE(WaitChild(child, 5000));
  EXPECT_EQ(fake.Pids().size(), 1u);
  EXPECT_TRUE(other.Pids().empty());
}

TEST(ProcessSeam, ForcedEnd) {
  FakeTunnel fake("print up\nhang\n");
  ChildProcess child;
  ScopedPipe out;
  ASSERT_TRUE(StartHiddenProcess(FakeCommand(), child, &out));
  uint32_t code = 0;
  EXPECT_FALSE(WaitChild(child, 200));
  EXPECT_FALSE(ChildExitCode(child, code));
  ASSERT_TRUE(TerminateChild(child));
  ASSERT_TRUE(WaitChild(child, 3000));
  ASSERT_TRUE(ChildExitCode(child, code));
#ifdef _WIN32
  EXPECT_EQ(code, 0u);
#else
  EXPECT_EQ(code, 128u + 9u);  // SIGKILL
#endif
  EXPECT_EQ(ReadUntilBroken(out.get(), 5000), "up\n");
  EXPECT_FALSE(ProcessAlive(child.pid));
}

TEST(ProcessSeam, NoPipeAndMissingProgram) {
  FakeTunnel fake("print nobody reads this\nexit 3\n");
  ChildProcess child;
  ASSERT_TRUE(StartHiddenProcess(FakeCommand(), child, nullptr));
  ASSERT_TRUE(WaitChild(child, 10000));
  uint32_t code = 0;
  ASSERT_TRUE(ChildExitCode(child, code));
  EXPECT_EQ(code, 3u);

  TempDir dir;
  ChildProcess missing;
  ScopedPipe out;
  EXPECT_FALSE(StartHiddenProcess(L"\"" + dir.File(L"no-such-program") + L"\" x", missing, &out));
  EXPECT_FALSE(missing.valid());
  EXPECT_FALSE(out.valid());
  EXPECT_FALSE(StartHiddenProcess(L"", missing, &out));
}

// A listening socket of the program must not live on in the child: it would
// keep the port and swallow connections after the server moved.
TEST(ProcessSeam, ChildDoesNotInheritSockets) {
  FakeTunnel fake("hang\n");
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  ASSERT_NE(listener, INVALID_SOCKET);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  socklen_t len = sizeof addr;
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  const int port = ntohs(addr.sin_port);

  ChildProcess child;
  ScopedPipe out;
  ASSERT_TRUE(StartHiddenProcess(FakeCommand(), child, &out));
  closesocket(listener);
  SOCKET s = ConnectLoopback(port);
  EXPECT_EQ(s, INVALID_SOCKET) << "the child still listens on the program's socket";
  if (s != INVALID_SOCKET) closesocket(s);
  TerminateChild(child);
  EXPECT_TRUE(WaitChild(child, 3000));
}

TEST(ProcessSeam, KillOnCloseJob) {
  FakeTunnel fake("hang\n");
  ChildProcess child;
  ASSERT_TRUE(StartHiddenProcess(FakeCommand(), child, nullptr));
#ifdef _WIN32
  ASSERT_TRUE(CreateKillOnCloseJob());
  ASSERT_NE(g_hJob, 0);
  EXPECT_TRUE(AssignChildToJob(child));
  CloseKillOnCloseJob();
  EXPECT_EQ(g_hJob, 0);
  EXPECT_TRUE(WaitChild(child, 5000)) << "closing the job did not end its member";
#else
  EXPECT_FALSE(CreateKillOnCloseJob());  // the death signal does this job here
  EXPECT_FALSE(AssignChildToJob(child));
  TerminateChild(child);
  EXPECT_TRUE(WaitChild(child, 3000));
#endif
}

TEST(SplitCommandLine, Table) {
  const struct {
    std::wstring line;
    std::vector<std::wstring> want;
  } cases[] = {
      {L"", {}},
      {L"   ", {}},
      {L"prog", {L"prog"}},
      {L"\"C:\\Program Files\\x.exe\" tunnel --url http://localhost:20000",
       {L"C:\\Program Files\\x.exe", L"tunnel", L"--url", L"http://localhost:20000"}},
      {L"\"/opt/v h/cloudflared\" a\tb", {L"/opt/v h/cloudflared", L"a", L"b"}},
      {L"p \"two words\" x\"y z\"w", {L"p", L"two words", L"xy zw"}},
      {L"p a\\\\b c\\d", {L"p", L"a\\\\b", L"c\\d"}},
      {L"p a\\\"b", {L"p", L"a\"b"}},
      {L"p a\\\\\"b c\"", {L"p", L"a\\b c"}},
      {L"p \"\"", {L"p", L""}},
      {L"p \"a\"\"b\"", {L"p", L"a\"b"}},
      {L"C:\\dir\\prog.exe \"arg\"", {L"C:\\dir\\prog.exe", L"arg"}},
      {L"powershell.exe -NoProfile -Command \"Compress-Archive -Path 'C:\\a b' -Force\"",
       {L"powershell.exe", L"-NoProfile", L"-Command", L"Compress-Archive -Path 'C:\\a b' -Force"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SplitCommandLine(c.line), c.want) << WstrToUtf8(c.line);
#ifdef _WIN32
    // The system's own splitting agrees (it reports the program's path for
    // an empty line, so those are left out).
    if (c.want.empty()) continue;
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(c.line.c_str(), &argc);
    ASSERT_NE(argv, nullptr);
    std::vector<std::wstring> sys(argv, argv + argc);
    LocalFree(argv);
    EXPECT_EQ(sys, c.want) << "CommandLineToArgvW: " << WstrToUtf8(c.line);
#endif
  }
}

}  // namespace
