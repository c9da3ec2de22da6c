// No tunnel client outlives the program, whether it ends without clean-up or
// is killed: checked by the pid the helper reports and the fake records.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "fake_tunnel.h"
#include "platform/module.h"
#include "platform/process.h"

namespace {

// Starts the helper in `mode` and returns the client pid from its
// "started <pid>" line (0 when missing).
uint32_t StartHelper(const wchar_t* mode, ChildProcess& helper, ScopedPipe& out) {
  const std::wstring cmd = L"\"" + ProgramFolder() + kPathSeparator + L"tunnel_orphan_helper" +
                           kExecutableSuffix + L"\" " + mode;
  if (!StartHiddenProcess(cmd, helper, &out)) return 0;
  const std::string report = ReadChildOutput(out.get(), true);
  if (report.rfind("started ", 0) != 0) return 0;
  return static_cast<uint32_t>(std::strtoul(report.c_str() + 8, nullptr, 10));
}

// "exit": the program ends without clean-up; "wait": it is killed
// (TerminateProcess / SIGKILL) while the client runs.
TEST(NoOrphans, ClientEndsWithTheProgram) {
  for (const wchar_t* mode : {L"exit", L"wait"}) {
    FakeTunnel fake("print INF starting\nhang\n");
    ChildProcess helper;
    ScopedPipe out;
    const uint32_t pid = StartHelper(mode, helper, out);
    ASSERT_NE(pid, 0u);
    if (mode[0] == L'w') {  // the client really runs (it recorded itself) before the kill
      ASSERT_TRUE(WaitUntil([&] { return fake.Pids() == std::vector<uint32_t>{pid}; }, 5000));
      ASSERT_TRUE(TerminateChild(helper));
    }
    ASSERT_TRUE(WaitChild(helper, 10000));
    EXPECT_TRUE(WaitProcessGone(pid, 10000)) << "tunnel client " << pid << " outlived the program";
  }
}

}  // namespace
