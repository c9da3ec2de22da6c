// The OS seam's files and text conversion, and the handle owner.
#include <gtest/gtest.h>

#include <vector>
#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

#include "net_client.h"
#include "platform/adapters.h"
#include "platform/command_line.h"
#include "platform/file.h"
#include "platform/owned.h"
#include "platform/text.h"

namespace {
TEST(TextConversion, RoundTripsStopsAtNulAndReplacesMalformedBytes) {
  const std::pair<std::wstring, std::string> cases[] = {
      {L"caf\u00e9", "caf\xc3\xa9"}, {L"\u20ac", "\xe2\x82\xac"}, {L"\U0001F338", "\xf0\x9f\x8c\xb8"}};
  for (const auto& [wide, utf8] : cases) EXPECT_TRUE(WstrToUtf8(wide) == utf8 && Utf8ToWstr(utf8) == wide) << utf8;
  EXPECT_EQ(WstrToUtf8(std::wstring(L"ab\0cd", 5)), "ab");
  EXPECT_EQ(Utf8ToWstr(std::string("ab\0cd", 5)), L"ab");
  // A stray byte and a cut sequence are replaced, not dropped.
  EXPECT_EQ(Utf8ToWstr("a\xff" "b" "x\xe2\x82"), L"a\xFFFD" L"bx\xFFFD");
}

TEST(FileSeam, OpenReadAtOffsetsAndDelete) {
  TempDir dir;
  const std::wstring p = dir.Write(L"data.bin", "0123456789");
  {
    ScopedFile f(OpenFileShareRead(p));
    uint64_t size = 0;
    ASSERT_TRUE(f.valid() && GetFileSizeByHandle(f.get(), size) && size == 10u);
    char buf[8] = {};
    EXPECT_EQ(ReadFileAt(f.get(), 7, buf, sizeof buf), 3);
    EXPECT_EQ(ReadFileAt(f.get(), 10, buf + 3, 5) + ReadFileAt(f.get(), 2, buf, 2), 2);  // an offset, not a position
    EXPECT_EQ(std::string(buf, 3), "239");
  }
  EXPECT_EQ(OpenFileShareRead(dir.File(L"missing.txt")) + OpenFileShareRead(dir.path()), 2 * kInvalidFileHandle);
  EXPECT_TRUE(DeleteFilePath(p));
  EXPECT_FALSE(PathExists(p) || DeleteFilePath(p));
}

// The rules Windows applies to one command line, and the joining of an argument list that they split back unchanged.
TEST(CommandLine, SplitAndJoinTable) {
  const std::pair<std::wstring, std::vector<std::wstring>> cases[] = {
      {L"", {}}, {L"   ", {}}, {L"\"C:\\Program Files\\x.exe\" tunnel", {L"C:\\Program Files\\x.exe", L"tunnel"}},
      {L"\"/opt/v h/cloudflared\" a\tb", {L"/opt/v h/cloudflared", L"a", L"b"}},
      {L"p \"two words\" x\"y z\"w", {L"p", L"two words", L"xy zw"}},
      {L"p a\\\\b c\\d", {L"p", L"a\\\\b", L"c\\d"}}, {L"p a\\\"b", {L"p", L"a\"b"}},
      {L"p a\\\\\"b c\"", {L"p", L"a\\b c"}}, {L"p \"\"", {L"p", L""}}, {L"p \"a\"\"b\"", {L"p", L"a\"b"}},
      {L"p \"a b\\\\\" \"\t\" \\\\\\\"\"", {L"p", L"a b\\", L"\t", L"\\\""}},
  };
  for (const auto& [line, want] : cases) {
    EXPECT_EQ(SplitCommandLine(line), want) << WstrToUtf8(line);
    const std::wstring joined = JoinCommandLine(want);
    EXPECT_EQ(SplitCommandLine(joined), want) << WstrToUtf8(joined);
#ifdef _WIN32
    for (const std::wstring& text : {line, joined}) {
      int argc = 0;  // the system's own splitting agrees (of an empty line it names the program)
      LPWSTR* argv = want.empty() ? nullptr : CommandLineToArgvW(text.c_str(), &argc);
      if (argv) {
        EXPECT_EQ(std::vector<std::wstring>(argv, argv + argc), want) << WstrToUtf8(text);
      }
      LocalFree(argv);
    }
#endif
  }
  EXPECT_EQ(JoinCommandLine({L"C:\\a\"b.exe", L"x"}), L"");  // a program name cannot carry a quote
}

#ifndef _WIN32
// Default routes that are up, each interface once; other routes, a route that is down, a cut-off line: left out.
TEST(DefaultRouteInterfaces, LinuxRouteTable) {
  EXPECT_EQ(DefaultRouteInterfaces("Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\n"
                                   "virbr0\t00007AC0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\n"
                                   "wlp2s0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\n"
                                   "enp3s0\t00000000\t0100000A\t0003\t0\t0\t100\t00000000\t0\n"
                                   "wlp2s0\t00000000\t0101A8C0\t0003\t0\t0\t700\t00000000\t0\n"
                                   "tun0\t00000000\t00000000\t0000\t0\t0\t50\t00000000\t0\nbroken\t00000000\n"),
            (std::vector<std::string>{"wlp2s0", "enp3s0"}));
}
#endif

std::vector<int> g_closed;
void RecordClose(int h) { g_closed.push_back(h); }
using Recorded = Owned<int, -1, RecordClose>;
TEST(Owned, EveryHeldHandleIsClosedOnceAndNoneTwice) {
  {
    Recorded a(1), b(2), none;
    Recorded c(std::move(a));  // moved: closed once, by c
    b = std::move(c);          // b's 2 closed now, 1 moves on
    Recorded d(3);
    d.reset(4);
    EXPECT_EQ(Recorded(5).release(), 5);  // given up: never closed
    EXPECT_FALSE(none.valid());
  }
  EXPECT_EQ(g_closed, (std::vector<int>{2, 3, 4, 1}));
}
}  // namespace
