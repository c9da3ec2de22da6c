// The address in the client's output, the child-process seam and no orphans.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "fake_tunnel.h"
#include "platform/module.h"
#include "tunnel/address.h"

namespace {
TEST(ExtractTunnelURL, Table) {
  const std::string x = "https://x.trycloudflare.com";
  const std::pair<std::string, std::string> cases[] = {
      {"2024-05-01T10:00:00Z INF |  https://a-b-c.trycloudflare.com   |", "https://a-b-c.trycloudflare.com"},
      {"url=\"" + x + "\"\tok", x}, {"url='" + x + "' ok", x}, {x + "|rest", x},
      {"https://Big-Host-9.trycloudflare.com", "https://Big-Host-9.trycloudflare.com"},
      // Exactly one label of [A-Za-z0-9-] before the suffix and nothing after it.
      {x + "/", ""}, {"https://trycloudflare.com.example.org", ""}, {"https://a.b.trycloudflare.com", ""},
      {x + "x", ""}, {"https://x_y.trycloudflare.com", ""}, {"http://plain.trycloudflare.com", ""},
      // The service's own API address, printed when the client fails.
      {"ERR failed: Post \"https://api.trycloudflare.com/tunnel\"", ""}, {"https://API.trycloudflare.com", ""},
      // Only the first "https://" of a line is looked at.
      {"https://docs.example.com " + x, ""}, {x + " https://second.trycloudflare.com", x}};
  for (const auto& [line, want] : cases) EXPECT_EQ(ExtractTunnelURL(line), want) << "line: " << line;
}
bool Start(ChildProcess& child, ScopedPipe* out, const std::vector<std::wstring>* env = nullptr,
           const std::wstring& program = L"cloudflared", std::vector<std::wstring> args = {L"tunnel"}) {
  args.insert(args.begin(), ProgramFolder() + kPathSeparator + program + kExecutableSuffix);
  return StartHiddenProcess(args, child, out, env) == ChildStart::kStarted;
}
uint32_t ExitCode(ChildProcess& child) {
  uint32_t code = 99;
  EXPECT_TRUE(WaitChild(child, 5000) && ChildExitCode(child, code));
  return code;
}

// Merged output, exit code, an env entry over ours, arguments as given, no socket of ours in a child, forced/job
// ends, no program or (Windows) one named without its full path.
TEST(ProcessSeam, OutputEnvironmentArgumentsSocketsEndsAndMissingProgram) {
  FakeTunnel named("print from-extra-env\nargs\nexit 0\n"), fake("print out-1\neprint err-1\nprintcr out-2\nexit 7\n");
  ChildProcess child, second, hung, jobbed, missing;
  ScopedPipe out, out2, none;
  ASSERT_TRUE(Start(child, &out));
  EXPECT_EQ(ReadChildOutput(out.get()) + std::to_string(ExitCode(child)), "out-1\nerr-1\nout-2\r\n7");
  EXPECT_EQ(fake.Pids(), std::vector<uint32_t>{child.pid});
  const std::vector<std::wstring> env{L"VH_FAKE_TUNNEL_DIR=" + named.Folder(), L"VH_UNUSED=a=b"};
  ASSERT_TRUE(Start(second, &out2, &env, L"cloudflared",
                    {L"two words", L"", L"q\"uote", L"tail\\", L"a\\\\\"b c", L"\t", L"x\\y", L"n\u00e9 \u2019"}));
  EXPECT_EQ(ReadChildOutput(out2.get()) + std::to_string(ExitCode(second)),
            "from-extra-env\n<two words>\n<>\n<q\"uote>\n<tail\\>\n<a\\\\\"b c>\n<\t>\n<x\\y>\n<n\u00e9 \u2019>\n0");
  fake.SetScript("hang\n");
  LoopbackPair p = MakeLoopbackPair();
  ASSERT_TRUE(Start(hung, nullptr) && Start(jobbed, nullptr));
  closesocket(p.server);
  bool reset = true;
  EXPECT_EQ(ReadAll(p.client, 3000, &reset), "");
  EXPECT_FALSE(reset) << "a child holds the program's socket";
  closesocket(p.client);
  EXPECT_TRUE(TerminateChild(hung) && WaitChild(hung, 5000));
#ifdef _WIN32
  ASSERT_TRUE(CreateKillOnCloseJob() && AssignChildToJob(jobbed));
  CloseKillOnCloseJob();
#else
  EXPECT_FALSE(CreateKillOnCloseJob() || AssignChildToJob(jobbed));
  TerminateChild(jobbed);
#endif
  EXPECT_TRUE(WaitChild(jobbed, 5000));
  EXPECT_EQ(StartHiddenProcess({fake.Folder() + L"/no-such-program", L"x"}, missing, &none), ChildStart::kNotStarted);
  EXPECT_EQ(StartHiddenProcess({}, missing, &none), ChildStart::kBadArguments);
#ifdef _WIN32  // a bare name would be searched for, beside the program first
  EXPECT_EQ(StartHiddenProcess({L"cloudflared.exe", L"tunnel"}, missing, &none), ChildStart::kBadArguments);
#endif
  EXPECT_FALSE(missing.valid() || none.valid());
}

#ifndef _WIN32  // Wine's CreateProcessW starts no program this deep: long_folder_wine.sh starts it as Explorer would
// A program in a folder whose path is longer than 260 characters still finds its own folder (the double reads its
// script there).
TEST(ProcessSeam, ProgramInALongFolderFindsItsFolder) {
  TempDir dir;
  std::wstring folder = dir.path();
  for (const wchar_t c : {L'a', L'b', L'c'}) {
    folder += kPathSeparator + std::wstring(100, c);
    std::filesystem::create_directory(std::filesystem::path(folder));
  }
  const std::wstring exe = folder + kPathSeparator + L"cloudflared" + kExecutableSuffix;
  std::filesystem::copy_file(std::filesystem::path(ProgramFolder() + kPathSeparator + L"cloudflared" +
                                                   kExecutableSuffix), std::filesystem::path(exe));
  std::filesystem::permissions(std::filesystem::path(exe), std::filesystem::perms::owner_exec,
                               std::filesystem::perm_options::add);
  WriteFileAt(folder + kPathSeparator + L"script.txt", "print found its folder\nexit 0\n");
  const std::vector<std::wstring> env{L"VH_FAKE_TUNNEL_DIR="};  // its own folder, as ProgramFolder says
  ChildProcess child;
  ScopedPipe out;
  ASSERT_EQ(StartHiddenProcess({exe, L"tunnel"}, child, &out, &env), ChildStart::kStarted);
  EXPECT_EQ(ReadChildOutput(out.get()), "found its folder\n");
  TerminateChild(child), WaitChild(child, 5000);
}
#endif

// No client outlives the program, ended without clean-up ("exit") or killed ("wait").
TEST(NoOrphans, ClientEndsWithTheProgram) {
  for (const wchar_t* mode : {L"exit", L"wait"}) {
    FakeTunnel fake("print INF starting\nhang\n");
    ChildProcess helper;
    ScopedPipe out;
    ASSERT_TRUE(Start(helper, &out, nullptr, L"tunnel_orphan_helper", {mode}));
    const std::string report = ReadChildOutput(out.get(), true);
    ASSERT_EQ(report.rfind("started ", 0), 0u) << report;
    const uint32_t pid = static_cast<uint32_t>(std::strtoul(report.c_str() + 8, nullptr, 10));
    if (mode[0] == L'w') {  // the client really runs (it recorded itself) before the kill
      ASSERT_TRUE(WaitUntil([&] { return fake.Pids() == std::vector<uint32_t>{pid}; }));
      ASSERT_TRUE(TerminateChild(helper));
    }
    ASSERT_TRUE(WaitChild(helper, 10000));
    EXPECT_TRUE(WaitProcessGone(pid, 10000)) << "tunnel client " << pid << " outlived the program";
  }
}
}  // namespace
