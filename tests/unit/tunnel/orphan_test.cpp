// No tunnel client outlives the program: checked by the pid the fake records,
// after the program ends without clean-up and after it is killed.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "fake_tunnel.h"
#include "platform/module.h"
#include "platform/process.h"

namespace {

std::wstring HelperCommand(const wchar_t* mode) {
  return L"\"" + ProgramFolder() + kPathSeparator + L"tunnel_orphan_helper" + kExecutableSuffix +
         L"\" " + mode;
}

// Reads the helper's output until it reports or ends.
std::string ReadReport(PipeHandle pipe) {
  std::string out;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  char buf[256];
  while (out.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    uint32_t avail = 0;
    if (!PeekPipe(pipe, avail)) break;
    if (avail == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      continue;
    }
    const int64_t n = ReadPipe(pipe, buf, avail < sizeof buf ? avail : sizeof buf);
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

// The client's pid from the helper's "started <pid>" line; 0 when missing.
uint32_t StartedPid(const std::string& report) {
  if (report.rfind("started ", 0) != 0) return 0;
  return static_cast<uint32_t>(std::strtoul(report.c_str() + 8, nullptr, 10));
}

TEST(NoOrphans, ClientEndsWhenTheProgramExitsWithoutCleanUp) {
  FakeTunnel fake("print INF starting\nhang\n");
  ChildProcess helper;
  ScopedPipe out;
  ASSERT_TRUE(StartHiddenProcess(HelperCommand(L"exit"), helper, &out));
  const uint32_t pid = StartedPid(ReadReport(out.get()));
  ASSERT_NE(pid, 0u);
  ASSERT_TRUE(WaitChild(helper, 10000));
  EXPECT_TRUE(WaitProcessGone(pid, 10000)) << "tunnel client " << pid << " outlived the program";
}

TEST(NoOrphans, ClientEndsWhenTheProgramIsKilled) {
  FakeTunnel fake("print INF starting\nhang\n");
  ChildProcess helper;
  ScopedPipe out;
  ASSERT_TRUE(StartHiddenProcess(HelperCommand(L"wait"), helper, &out));
  const uint32_t pid = StartedPid(ReadReport(out.get()));
  ASSERT_NE(pid, 0u);
  EXPECT_TRUE(ProcessAlive(pid));
  // The client really runs (it recorded itself) before the program is killed.
  for (int i = 0; i < 200 && fake.Pids().empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  ASSERT_EQ(fake.Pids(), std::vector<uint32_t>{pid});
  ASSERT_TRUE(TerminateChild(helper));  // TerminateProcess / SIGKILL
  ASSERT_TRUE(WaitChild(helper, 5000));
  EXPECT_TRUE(WaitProcessGone(pid, 10000)) << "tunnel client " << pid << " outlived the program";
}

}  // namespace
