// The child-process seam with the fake tunnel client as the child: merged
// output, exit codes, forced end, extra environment, inherited sockets, the
// kill-on-close job, and command-line splitting.
#include <gtest/gtest.h>

#include <string>

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

#include "fake_tunnel.h"
#include "platform/command_line.h"
#include "platform/process.h"
#include "platform/text.h"

namespace {

// Starts the fake; false when it did not start.
bool Start(ChildProcess& child, ScopedPipe* out, const std::vector<std::wstring>* env = nullptr) {
  return StartHiddenProcess(L"\"" + FakeClientPath() + L"\" tunnel", child, out, env);
}

uint32_t ExitCode(ChildProcess& child) {
  uint32_t code = 99;
  EXPECT_TRUE(WaitChild(child, 5000));
  EXPECT_TRUE(ChildExitCode(child, code));
  return code;
}

// Merged output and exit code; extra environment entries replace a variable
// of the program's own (which names the fake constructed last).
TEST(ProcessSeam, MergedOutputExitCodeAndExtraEnvironment) {
  FakeTunnel named("print from-extra-env\nexit 0\n");
  FakeTunnel fake("print out-1\neprint err-1\nprintcr out-2\nexit 7\n");
  ChildProcess child;
  ScopedPipe out;
  ASSERT_TRUE(Start(child, &out));
  EXPECT_EQ(ReadChildOutput(out.get()), "out-1\nerr-1\nout-2\r\n");
  uint32_t avail = 0;
  EXPECT_FALSE(PeekPipe(out.get(), avail));  // broken and empty
  EXPECT_EQ(ExitCode(child), 7u);
  EXPECT_EQ(fake.Pids(), std::vector<uint32_t>{child.pid});

  const std::vector<std::wstring> env{L"VH_FAKE_TUNNEL_DIR=" + named.Folder(), L"VH_UNUSED=a=b"};
  ChildProcess second;
  ScopedPipe out2;
  ASSERT_TRUE(Start(second, &out2, &env));
  EXPECT_EQ(ReadChildOutput(out2.get()), "from-extra-env\n");
  EXPECT_EQ(ExitCode(second), 0u);
  EXPECT_EQ(fake.Pids().size(), 1u);
}

TEST(ProcessSeam, ForcedEndNoPipeAndMissingProgram) {
  FakeTunnel fake("print up\nhang\n");
  ChildProcess child;
  ScopedPipe out;
  ASSERT_TRUE(Start(child, &out));
  uint32_t code = 0;
  EXPECT_FALSE(WaitChild(child, 200));
  EXPECT_FALSE(ChildExitCode(child, code));
  ASSERT_TRUE(TerminateChild(child));
#ifdef _WIN32
  EXPECT_EQ(ExitCode(child), 0u);
#else
  EXPECT_EQ(ExitCode(child), 128u + 9u);  // SIGKILL
#endif
  EXPECT_EQ(ReadChildOutput(out.get()), "up\n");
  EXPECT_FALSE(ProcessAlive(child.pid));

  fake.SetScript("print nobody reads this\nexit 3\n");
  ChildProcess quiet;
  ASSERT_TRUE(Start(quiet, nullptr));
  EXPECT_EQ(ExitCode(quiet), 3u);

  TempDir dir;
  ChildProcess missing;
  ScopedPipe none;
  EXPECT_FALSE(StartHiddenProcess(L"\"" + dir.File(L"no-such-program") + L"\" x", missing, &none));
  EXPECT_FALSE(missing.valid());
  EXPECT_FALSE(none.valid());
  EXPECT_FALSE(StartHiddenProcess(L"", missing, &none));
}

// A socket of the program must not live on in the child (a listening one
// would keep the port): closing our end must end the connection at once.
TEST(ProcessSeam, ChildDoesNotInheritSockets) {
  FakeTunnel fake;
  LoopbackPair p = MakeLoopbackPair();
  ChildProcess child;
  ASSERT_TRUE(Start(child, nullptr));
  closesocket(p.server);
  bool reset = true;
  EXPECT_EQ(ReadAll(p.client, 3000, &reset), "");
  EXPECT_FALSE(reset) << "the child still holds the program's socket";
  closesocket(p.client);
  TerminateChild(child);
  EXPECT_TRUE(WaitChild(child, 3000));
}

TEST(ProcessSeam, KillOnCloseJob) {
  FakeTunnel fake;
  ChildProcess child;
  ASSERT_TRUE(Start(child, nullptr));
#ifdef _WIN32
  ASSERT_TRUE(CreateKillOnCloseJob());
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
      {L"", {}}, {L"   ", {}}, {L"prog", {L"prog"}},
      {L"\"C:\\Program Files\\x.exe\" tunnel --url http://localhost:20000",
       {L"C:\\Program Files\\x.exe", L"tunnel", L"--url", L"http://localhost:20000"}},
      {L"\"/opt/v h/cloudflared\" a\tb", {L"/opt/v h/cloudflared", L"a", L"b"}},
      {L"p \"two words\" x\"y z\"w", {L"p", L"two words", L"xy zw"}},
      {L"p a\\\\b c\\d", {L"p", L"a\\\\b", L"c\\d"}}, {L"p a\\\"b", {L"p", L"a\"b"}},
      {L"p a\\\\\"b c\"", {L"p", L"a\\b c"}}, {L"p \"\"", {L"p", L""}},
      {L"p \"a\"\"b\"", {L"p", L"a\"b"}}, {L"C:\\dir\\prog.exe \"arg\"", {L"C:\\dir\\prog.exe", L"arg"}},
      {L"powershell.exe -NoProfile -Command \"Compress-Archive -Path 'C:\\a b' -Force\"",
       {L"powershell.exe", L"-NoProfile", L"-Command", L"Compress-Archive -Path 'C:\\a b' -Force"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SplitCommandLine(c.line), c.want) << WstrToUtf8(c.line);
#ifdef _WIN32
    // The system's own splitting agrees (for an empty line it names the program).
    if (c.want.empty()) continue;
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(c.line.c_str(), &argc);
    ASSERT_NE(argv, nullptr);
    EXPECT_EQ(std::vector<std::wstring>(argv, argv + argc), c.want) << WstrToUtf8(c.line);
    LocalFree(argv);
#endif
  }
}

}  // namespace
