// Where the tunnel client is expected and its command line.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "net_client.h"
#include "platform/module.h"
#include "platform/text.h"
#include "test_util.h"
#include "tunnel/client.h"

namespace {

TEST(CloudflaredCommandLine, ExactText) {
  const struct {
    std::wstring path;
    int port;
    std::wstring want;
  } cases[] = {
      {L"C:\\Program Files\\Vorn-Hale\\cloudflared.exe", 20000,
       L"\"C:\\Program Files\\Vorn-Hale\\cloudflared.exe\" tunnel --no-autoupdate --protocol http2 "
       L"--url http://localhost:20000"},
      {L"/opt/vh/cloudflared", 49999,
       L"\"/opt/vh/cloudflared\" tunnel --no-autoupdate --protocol http2 --url "
       L"http://localhost:49999"},
      {L"c", 8, L"\"c\" tunnel --no-autoupdate --protocol http2 --url http://localhost:8"},
  };
  for (const auto& c : cases) EXPECT_EQ(CloudflaredCommandLine(c.path, c.port), c.want);
}

TEST(CloudflaredPath, PresenceIsReadableAttributes) {
  TempDir dir;
  EXPECT_TRUE(CloudflaredPresent(dir.Write(L"cloudflared", "x")));
  EXPECT_FALSE(CloudflaredPresent(dir.File(L"missing")));
  EXPECT_FALSE(CloudflaredPresent(L""));
  EXPECT_TRUE(PathAttributesReadable(ProgramFolder()));
}

#ifdef _WIN32
TEST(CloudflaredPath, OnlyTheProgramFolder) {
  const std::wstring folder = ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(GetCloudflaredPath(), folder + L"\\cloudflared.exe");
}
#else
TEST(CloudflaredPath, NextToTheProgramThenOnPath) {
  const std::wstring beside = ProgramFolder() + L"/cloudflared";
  const bool besidePresent = CloudflaredPresent(beside);
  TempDir empty;
  TempDir bin;
  const std::wstring onPath = bin.Write(L"cloudflared", "#!/bin/sh\n");
  {
    ScopedEnv p("PATH", WstrToUtf8(empty.path()) + "::" + WstrToUtf8(bin.path()));
    EXPECT_EQ(GetCloudflaredPath(), besidePresent ? beside : onPath);
  }
  {
    ScopedEnv p("PATH", WstrToUtf8(empty.path()));
    EXPECT_EQ(GetCloudflaredPath(), beside);  // expected there when found nowhere
  }
}
#endif

}  // namespace
