// The registry, slugs, links and where the tunnel client is looked for
// (this binary has none beside it).
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/links.h"
#include "core/registry.h"
#include "text/slug.h"
#include "net_client.h"
#include "platform/adapters.h"
#include "platform/net.h"
#include "platform/module.h"
#include "platform/random.h"
#include "platform/text.h"
#include "test_util.h"
#include "tunnel/client.h"

namespace {

std::shared_ptr<HostedItem> Insert(const std::string& slug, int mode = 1, const std::wstring& zip = {}) {
  auto item = std::make_shared<HostedItem>();
  item->slug = slug;
  item->mode = mode;
  item->isFolder = !zip.empty();
  item->path = item->tempZip = zip;
  if (!zip.empty()) item->fileHandle = OpenFileShareRead(zip);
  std::lock_guard<std::mutex> lock(g_hostedMtx);
  AppendHosted_locked(item);
  return item;
}

// A random source handing out g_script (then zeros), failing from draw
// g_failFrom on (-1: never); counts its draws.
std::vector<unsigned char> g_script;
size_t g_pos = 0;
int g_draws = 0, g_failFrom = -1;
bool ScriptedSource(void* buf, size_t len) {
  if (const int draw = g_draws++; g_failFrom >= 0 && draw >= g_failFrom) return false;
  for (size_t i = 0; i < len; ++i) static_cast<unsigned char*>(buf)[i] = g_pos < g_script.size() ? g_script[g_pos++] : 0;
  return true;
}

class Core : public ::testing::Test {
 protected:
  void SetUp() override { ClearHosted(); }
  void TearDown() override {
    SetRandomSourceForTest(nullptr);
    ClearHosted();
  }
  static void Script(std::vector<unsigned char> bytes, int failFrom = -1) {
    g_script = std::move(bytes);
    g_pos = 0;
    g_draws = 0;
    g_failFrom = failFrom;
    SetRandomSourceForTest(ScriptedSource);
  }
};

TEST_F(Core, LookupsAreExactAndCaseSignificant) {
  auto lower = Insert("abc", 0), upper = Insert("ABC", 1);
  Insert("abcd", 0);
  for (const auto& [slug, want] : std::vector<std::pair<std::string, HostedItem*>>{
           {"abc", lower.get()}, {"ABC", upper.get()}, {"aBc", nullptr}, {"ab", nullptr},
           {"abc ", nullptr}, {"", nullptr}, {std::string("abc\0", 4), nullptr}}) {
    EXPECT_EQ(FindHostedBySlug(slug).get(), want) << slug;
    std::lock_guard<std::mutex> lock(g_hostedMtx);
    EXPECT_EQ(SlugInUse_locked(slug), want != nullptr) << slug;
  }
  EXPECT_TRUE(AnyHostedInMode(0));
  upper->url = "u";
  EXPECT_EQ(HostedUrlAt(1) + HostedUrlAt(3) + LatestHostedUrl(), "u");
}

TEST_F(Core, RemoveOneKeepsOrderAndCountsInternetItems) {
  for (const char* slug : {"lan1", "net1", "lan2", "net2"}) Insert(slug, slug[0] == 'n' ? 0 : 1);
  const struct {
    size_t index;
    const char* removed;  // nullptr: stale index, nothing changes
    int internetLeft;
    const char* after;
  } steps[] = {{4, nullptr, 0, "lan1 net1 lan2 net2 "}, {1, "net1", 1, "lan1 lan2 net2 "},
               {2, "net2", 0, "lan1 lan2 "}, {0, "lan1", 0, "lan2 "}, {0, "lan2", 0, ""}, {0, nullptr, 0, ""}};
  for (const auto& s : steps) {
    std::shared_ptr<HostedItem> removed;
    int internetLeft = -1;
    ASSERT_EQ(RemoveHostedAt(s.index, removed, internetLeft), s.removed != nullptr) << s.index;
    EXPECT_EQ(removed ? removed->slug : "", s.removed ? s.removed : "");
    EXPECT_TRUE(!s.removed || internetLeft == s.internetLeft) << internetLeft;
    std::string slugs;
    for (const auto& item : SnapshotHosted()) slugs += item->slug + " ";
    EXPECT_EQ(slugs, s.after);
  }
}

// The lock closes before the archive is deleted (on Windows the other order
// leaves the archive), and only when the last holder lets go.
TEST_F(Core, ItemsReleaseTheirFilesWithTheLastReference) {
  TempDir dir;
  const std::wstring zipA = dir.Write(L"a_1.zip", "PK"), zipB = dir.Write(L"b_2.zip", "PK");
  Insert("aaa", 1, zipA);
  std::shared_ptr<HostedItem> held = Insert("bbb", 1, zipB);  // a connection still using it
  auto plain = Insert("ccc");
  int files = -1, folders = -1;
  CountHostedByKind(files, folders);
  EXPECT_EQ(files * 10 + folders, 12);
  EXPECT_EQ(LatestHosted(), plain);
  std::shared_ptr<HostedItem> removed;
  int internetLeft = 0;
  ASSERT_TRUE(RemoveHostedAt(0, removed, internetLeft));
  EXPECT_TRUE(PathExists(zipA));  // the remover's copy keeps it
  removed.reset();
  EXPECT_FALSE(PathExists(zipA));
  ClearHosted();
  EXPECT_TRUE(PathExists(zipB));
  held.reset();
  EXPECT_FALSE(PathExists(zipB));
}

// Byte b is alphabet[b % 36]; 252..255 are discarded (no bias) and the fill
// carries over to the next draw; a failing draw gives the "!" sentinel.
TEST_F(Core, TokenMapsBytesWithoutBias) {
  Script({252, 253, 254, 255, 0, 1, 25, 26, 35, 36, 71, 251, 100, 200, 2, 3});
  EXPECT_EQ(GenerateToken(kTokenLen), "abz09a992ucd");
  EXPECT_EQ(g_draws, 1);
  std::vector<unsigned char> bytes(60, 255);
  for (unsigned char b = 0; b < 12; ++b) bytes.push_back(b);
  Script(bytes);
  EXPECT_EQ(GenerateToken(kTokenLen), "abcdefghijkl");
  EXPECT_EQ(g_draws, 2);
  Script(bytes, 1);  // a failure after a partial fill: the whole sentinel
  EXPECT_EQ(GenerateToken(kTokenLen), "!!!!!!!!!!!!");
}

TEST(CheckCustomSlug, SyntaxThenReservedWords) {
  for (const char* word : {"Admin", "API", "WwW", "billing", "docs", "ftp", "help", "login", "logout",
                           "signin", "signup", "static", "stripe", "SUPPORT", "WEBHOOK", "app", "__vhhealth"})
    EXPECT_EQ(CheckCustomSlug(word), SlugResult::kReserved) << word;
  for (const std::string& ok : std::vector<std::string>{std::string(32, 'x'), "admins", "myadmin", "api_", "my_files-2024", "__VHhealth"})
    EXPECT_EQ(CheckCustomSlug(ok), SlugResult::kOk) << ok;
  for (const std::string& bad : {std::string("dl"), std::string(), std::string(33, 'x'), std::string("caf\xC3\xA9"),
                                std::string("\xC3\xA9\xC3\xA9\xC3\xA9"), std::string("a.b"), std::string("%41bc"),
                                std::string(" api"), std::string("login\n"), std::string("a/b")})
    EXPECT_EQ(CheckCustomSlug(bad), SlugResult::kBadSyntax) << bad;
  EXPECT_TRUE(IsReservedSlug("DL"));
}

// A taken token is drawn again, 64 times at most; a failing generator gives up after as many draws.
TEST_F(Core, SlugChoiceGivesUpAfter64Attempts) {
  for (const bool failing : {true, false}) {
    Script({}, failing ? 0 : -1);  // otherwise zeros only: "aaaaaaaaaaaa"
    ClearHosted();
    if (!failing) Insert("aaaaaaaaaaaa");
    std::lock_guard<std::mutex> lock(g_hostedMtx);
    std::string slug;
    EXPECT_EQ(ChooseSlug_locked("", slug), SlugResult::kNoToken);
    EXPECT_EQ(g_draws, 64);
    EXPECT_EQ(slug, "");
  }
}

// An adapter: Ethernet (E), Wi-Fi (W), loopback (L) or other (O); "-": down;
// "g": with a default gateway.
NetAdapter A(const char* kind, std::vector<std::string> ips) {
  NetAdapter a;
  a.ifType = kind[0] == 'W' ? kIfTypeIeee80211 : kind[0] == 'L' ? kIfTypeSoftwareLoopback
           : kind[0] == 'O' ? kIfTypeOther : kIfTypeEthernet;
  a.up = std::string(kind).find('-') == std::string::npos;
  a.gateway = std::string(kind).find('g') != std::string::npos;
  a.ipv4 = std::move(ips);
  return a;
}

TEST(ChoosePreferredIp, ReachableThenWifiThenGatewayThenListOrder) {
  const struct {
    std::vector<NetAdapter> adapters;
    std::string want;
  } cases[] = {
      {{A("E", {"10.0.0.5"}), A("W", {"192.168.1.7", "192.168.1.8"}), A("W", {"192.168.2.9"})}, "192.168.1.7"},
      {{A("W-", {"192.168.1.7"}), A("E", {"10.0.0.5"})}, "10.0.0.5"},
      {{A("W", {}), A("E", {"10.0.0.5"})}, "10.0.0.5"},
      {{A("L", {"127.0.0.1"}), A("E", {"10.0.0.5", "10.0.0.6"})}, "10.0.0.5"},
      {{A("O", {"172.17.0.1"}), A("E", {"192.168.0.2"})}, "172.17.0.1"},
      {{A("L", {"127.0.0.1"}), A("E", {"169.254.3.4"})}, "169.254.3.4"},  // link-local if all there is
      {{A("E", {"172.29.144.1"}), A("Eg", {"192.168.0.2"})}, "192.168.0.2"},
      {{A("E", {"169.254.3.4", "192.168.0.2"})}, "192.168.0.2"},
      {{A("Eg", {"169.254.3.4"}), A("E", {"10.0.0.5"})}, "10.0.0.5"},
      {{A("Eg", {"10.0.0.5"}), A("W", {"192.168.1.7"})}, "192.168.1.7"},
      {{A("W", {"192.168.56.1"}), A("Wg", {"192.168.1.7"})}, "192.168.1.7"},
      {{A("W", {"169.254.9.9"}), A("E", {"10.0.0.5"})}, "10.0.0.5"},
      {{A("E", {"169.25.1.1"}), A("E", {"10.169.254.1"})}, "169.25.1.1"},  // first two octets only
      {{}, ""}, {{A("L", {"127.0.0.1"})}, ""}, {{A("E-", {"10.0.0.5"}), A("W-", {"192.168.1.7"})}, ""},
  };
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(ChoosePreferredIp(cases[i].adapters), cases[i].want) << "row " << i;
}

#ifndef _WIN32
// Default routes that are up, each interface once; other routes, a route
// that is down and a cut-off line are left out.
TEST(DefaultRouteInterfaces, LinuxRouteTable) {
  const char* table =
      "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
      "virbr0\t00007AC0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
      "wlp2s0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
      "enp3s0\t00000000\t0100000A\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
      "wlp2s0\t00000000\t0101A8C0\t0003\t0\t0\t700\t00000000\t0\t0\t0\n"
      "tun0\t00000000\t00000000\t0000\t0\t0\t50\t00000000\t0\t0\t0\n"
      "broken\t00000000\n";
  EXPECT_EQ(DefaultRouteInterfaces(table), std::vector<std::string>({"wlp2s0", "enp3s0"}));
}
#endif

TEST(AddressLookup, SystemAdaptersAndAddresses) {
  in_addr a{};
  EXPECT_EQ(inet_pton(AF_INET, GetPreferredNetworkIP().c_str(), &a) + inet_pton(AF_INET, GetLanIP().c_str(), &a), 2);
  std::vector<NetAdapter> adapters;
  ASSERT_TRUE(ListNetAdapters(adapters));
  bool anyGateway = false;
  for (const NetAdapter& n : adapters) {
    anyGateway = anyGateway || n.gateway;
    for (const std::string& ip : n.ipv4)
      EXPECT_TRUE(ip.rfind("127.", 0) != 0 || n.ifType == kIfTypeSoftwareLoopback) << ip;
  }
#ifndef _WIN32
  EXPECT_EQ(anyGateway, !DefaultRouteInterfaces(ReadWholeFile(L"/proc/net/route")).empty());
#endif
}

TEST(BuildItemUrl, Formats) {
  const struct {
    int mode, port;
    const char *lanIp, *tunHost, *want;
  } cases[] = {
      {1, 20000, "", "", "http://127.0.0.1:20000/Ab-c"},
      {1, 49999, "10.0.0.5", "https://x-y.trycloudflare.com", "http://10.0.0.5:49999/Ab-c"},
      {0, 20000, "192.168.1.7", "", ""},
      {0, 20000, "192.168.1.7", "https://x-y.trycloudflare.com", "https://x-y.trycloudflare.com/Ab-c"},
  };
  for (const auto& c : cases) {
    HostedItem item;
    item.mode = c.mode;
    item.slug = "Ab-c";
    item.url = "stale";
    g_cachedLanIp = c.lanIp;
    g_port = c.port;
    std::lock_guard<std::mutex> lock(g_hostedMtx);
    g_tunHost = c.tunHost;
    BuildItemUrl_locked(item);
    EXPECT_EQ(item.url, c.want);
    g_tunHost.clear();
  }
  g_cachedLanIp.clear();
  g_port = 0;
}

TEST(Client, CommandLineAndPlace) {
  EXPECT_EQ(CloudflaredCommandLine(L"C:\\Program Files\\Vorn-Hale\\cloudflared.exe", 20000),
            L"\"C:\\Program Files\\Vorn-Hale\\cloudflared.exe\" tunnel --no-autoupdate --protocol "
            L"http2 --url http://localhost:20000");
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
  {
    ScopedEnv p("PATH", WstrToUtf8(empty.path()) + "::" + WstrToUtf8(dir.path()));
    EXPECT_EQ(GetCloudflaredPath(), CloudflaredPresent(beside) ? beside : dir.File(L"cloudflared"));
  }
  ScopedEnv p("PATH", WstrToUtf8(empty.path()));
  EXPECT_EQ(GetCloudflaredPath(), beside);
#endif
}

}  // namespace
