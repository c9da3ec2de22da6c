// Where the tunnel client is expected and its command line.
#include <gtest/gtest.h>

#include <string>

#include "net_client.h"
#include "platform/module.h"
#include "platform/text.h"
#include "test_util.h"
#include "tunnel/client.h"

TEST(CloudflaredCommandLine, ExactText) {
  EXPECT_EQ(CloudflaredCommandLine(L"C:\\Program Files\\Vorn-Hale\\cloudflared.exe", 20000),
            L"\"C:\\Program Files\\Vorn-Hale\\cloudflared.exe\" tunnel --no-autoupdate --protocol "
            L"http2 --url http://localhost:20000");
}

TEST(CloudflaredPath, PresenceAndPlace) {
  TempDir dir;
  EXPECT_TRUE(CloudflaredPresent(dir.Write(L"cloudflared", "x")));
  EXPECT_FALSE(CloudflaredPresent(dir.File(L"missing")));
  EXPECT_FALSE(CloudflaredPresent(L""));
#ifdef _WIN32
  EXPECT_EQ(GetCloudflaredPath(), ProgramFolder() + L"\\cloudflared.exe");  // nowhere else
#else
  // Beside the program first, then on PATH, else expected beside the program.
  const std::wstring beside = ProgramFolder() + L"/cloudflared";
  TempDir empty;
  const std::wstring onPath = dir.Write(L"cloudflared", "#!/bin/sh\n");
  {
    ScopedEnv p("PATH", WstrToUtf8(empty.path()) + "::" + WstrToUtf8(dir.path()));
    EXPECT_EQ(GetCloudflaredPath(), CloudflaredPresent(beside) ? beside : onPath);
  }
  ScopedEnv p("PATH", WstrToUtf8(empty.path()));
  EXPECT_EQ(GetCloudflaredPath(), beside);
#endif
}
