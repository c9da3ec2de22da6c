// The registry, slugs, links and where the tunnel client is looked for (none beside this binary).
#include <gtest/gtest.h>

#include "core/events.h"
#include "core/links.h"
#include "net_client.h"
#include "platform/command_line.h"
#include "platform/message.h"
#include "platform/module.h"
#include "platform/random.h"
#include "text/slug.h"
#include "tunnel/client.h"

namespace {
std::shared_ptr<HostedItem> Insert(const std::string& slug, const std::wstring& zip = {}) {
  auto item = std::make_shared<HostedItem>();
  item->slug = slug;
  item->path = item->tempZip = zip;
  if (!zip.empty()) item->fileHandle.reset(OpenFileShareRead(zip, HoldKind::kReadAndDelete));
  WithHostedLocked([&item](HostedLock& lock) { AppendHosted_locked(lock, item); });
  return item;
}

// A random source handing out g_script (then zeros), failing from draw g_failFrom on (-1: never).
std::vector<unsigned char> g_script;
size_t g_pos = 0;
int g_draws = 0, g_failFrom = -1;
void Script(std::vector<unsigned char> bytes, int failFrom = -1) {
  g_script = std::move(bytes);
  g_pos = g_draws = 0;
  g_failFrom = failFrom;
  SetRandomSourceForTest([](void* buf, size_t len) {
    if (const int draw = g_draws++; g_failFrom >= 0 && draw >= g_failFrom) return false;
    for (auto* out = static_cast<unsigned char*>(buf); len--;) *out++ = g_pos < g_script.size() ? g_script[g_pos++] : 0;
    return true;
  });
}
struct Core : ::testing::Test {
  void SetUp() override { ClearHosted(); }
  void TearDown() override { SetRandomSourceForTest(nullptr), ClearHosted(); }
};

// An archive leaves with its share, even while a connection still reads it; the lock closes with the last holder.
TEST_F(Core, ItemsReleaseTheirFilesWithTheLastReference) {
  TempDir dir;
  const std::wstring zipA = dir.Write(L"a_1.zip", "PK"), zipB = dir.Write(L"b_2.zip", "PK");
  Insert("aaa", zipA);
  std::shared_ptr<HostedItem> held = Insert("bbb", zipB), removed;  // held: a connection still using it
  int internetLeft = 0;
  ASSERT_TRUE(RemoveHostedAt(0, removed, internetLeft));
  ClearHosted();
  for (const auto& [item, zip] : {std::pair(removed, zipA), {held, zipB}}) {
    char buf[2] = {};  // POSIX: the name goes at once; Windows: the file goes with its last handle
    EXPECT_TRUE(ReadFileAt(item->fileHandle.get(), 0, buf, 2) == 2 && buf[0] == 'P') << item->slug;
#ifndef _WIN32
    EXPECT_FALSE(PathExists(zip)) << item->slug;
#endif
  }
  removed.reset(), held.reset();
  EXPECT_FALSE(PathExists(zipA) || PathExists(zipB));
}

// Events come out in the order pushed; a push wakes its window with an empty message; a full queue drops the push.
TEST(Events, OrderWakeUpsAndAFullQueue) {
  const HWND wake = CreateMessageWindow();
  for (AppEvent e; PopEvent(e);) continue;
  AppEvent e;
  e.kind = EventKind::kTunnelFound;
  for (e.generation = 0; e.generation < kMaxQueuedEvents; ++e.generation)
    ASSERT_TRUE(PushEvent(e.generation == 0 ? wake : nullptr, e));
  EXPECT_FALSE(PushEvent(wake, e));
  std::string wakes;
  for (AppMessage m; WaitAppMessage(m, 0);)
    wakes += std::to_string(m.msg) + (m.hwnd == wake ? " " : "? ") + std::to_string(m.wParam + m.lParam) + ";";
  EXPECT_EQ(wakes, "1025 0;");
  uint32_t next = 0;
  for (AppEvent e; PopEvent(e) && e.kind == EventKind::kTunnelFound && e.generation == next;) ++next;
  EXPECT_EQ(next, kMaxQueuedEvents);
  DestroyMessageWindow(wake);
}

// b -> alphabet[b % 36]; 252..255 discarded (no bias), the fill carried to the next draw; a failed draw: "!"s.
TEST_F(Core, TokenMapsBytesWithoutBias) {
  Script({252, 253, 254, 255, 0, 1, 25, 26, 35, 36, 71, 251, 100, 200, 2, 3});
  std::string token = GenerateToken(kTokenLen);
  EXPECT_EQ(token + std::to_string(g_draws), "abz09a992ucd1");
  std::vector<unsigned char> bytes(60, 255);
  for (unsigned char b = 0; b < 12; ++b) bytes.push_back(b);
  Script(bytes);
  token = GenerateToken(kTokenLen);
  EXPECT_EQ(token + std::to_string(g_draws), "abcdefghijkl2");
  Script(bytes, 1);  // a failure after a partial fill: the whole sentinel
  EXPECT_EQ(GenerateToken(kTokenLen), "!!!!!!!!!!!!");
}

TEST(CheckCustomSlug, SyntaxThenReservedWords) {
  const std::pair<std::vector<std::string>, SlugResult> cases[] = {
      {{"Admin", "API", "WwW", "billing", "docs", "ftp", "help", "login", "logout", "signin", "signup", "static",
        "stripe", "SUPPORT", "WEBHOOK", "app", "__vhhealth"}, SlugResult::kReserved},
      {{std::string(32, 'x'), "myadmin", "my_files-2024"}, SlugResult::kOk},
      {{"dl", std::string(33, 'x'), "caf\xC3\xA9", "a.b", " api", "a/b"}, SlugResult::kBadSyntax}};
  for (const auto& [words, want] : cases)
    for (const std::string& word : words) EXPECT_EQ(CheckCustomSlug(word), want) << word;
}

// A taken token is drawn again, 64 times at most; a failing generator gives up after as many draws.
TEST_F(Core, SlugChoiceGivesUpAfter64Attempts) {
  for (const bool failing : {true, false}) {
    Script({}, failing ? 0 : -1);  // otherwise zeros only: "aaaaaaaaaaaa"
    if (!failing) Insert("aaaaaaaaaaaa");
    std::string slug;
    WithHostedLocked([&slug](HostedLock& lock) { EXPECT_EQ(ChooseSlug_locked(lock, "", slug), SlugResult::kNoToken); });
    EXPECT_EQ(slug + std::to_string(g_draws), "64");
  }
}

// An adapter: Ethernet (E), Wi-Fi (W) or loopback (L); "-": down; "g": with a default gateway.
NetAdapter A(const std::string& kind, std::vector<std::string> ips) {
  return {kind.find('-') == std::string::npos,
          kind[0] == 'W' ? kIfTypeIeee80211 : kind[0] == 'L' ? kIfTypeSoftwareLoopback : kIfTypeEthernet,
          std::move(ips), kind.find('g') != std::string::npos};
}
TEST(ChoosePreferredIp, ReachableThenWifiThenGatewayThenListOrder) {
  const std::pair<std::vector<NetAdapter>, std::string> cases[] = {
      {{A("E", {"10.0.0.5"}), A("W", {"192.168.1.7", "192.168.1.8"}), A("W", {"192.168.2.9"})}, "192.168.1.7"},
      {{A("W-", {"192.168.1.7"}), A("L", {"127.0.0.1"}), A("E", {"10.0.0.5", "10.0.0.6"})}, "10.0.0.5"},
      {{A("L", {"127.0.0.1"}), A("E", {"169.254.3.4"})}, "169.254.3.4"},  // link-local if all there is
      {{A("E", {"172.29.144.1"}), A("Eg", {"192.168.0.2"})}, "192.168.0.2"},
      {{A("Eg", {"169.254.3.4"}), A("E", {"10.0.0.5"})}, "10.0.0.5"},
      {{A("Eg", {"10.0.0.5"}), A("W", {"192.168.1.7"})}, "192.168.1.7"},
      {{A("W", {"192.168.56.1"}), A("Wg", {"192.168.1.7"})}, "192.168.1.7"},
      {{A("E", {"169.25.1.1"}), A("E", {"10.169.254.1"})}, "169.25.1.1"},  // first two octets only
      {{A("L", {"127.0.0.1"}), A("E-", {"10.0.0.5"})}, ""},
  };
  for (const auto& [adapters, want] : cases) EXPECT_EQ(ChoosePreferredIp(adapters), want) << want;
}

TEST(Client, CommandLineAndPlace) {
  EXPECT_EQ(JoinCommandLine(CloudflaredArguments(L"C:\\Vorn Hale\\cloudflared.exe", 20000)),
            L"\"C:\\Vorn Hale\\cloudflared.exe\" tunnel --no-autoupdate --protocol http2 --url http://localhost:20000");
#ifdef _WIN32
  EXPECT_EQ(GetCloudflaredPath(), ProgramFolder() + L"\\cloudflared.exe");  // nowhere else
#endif
}
}  // namespace
