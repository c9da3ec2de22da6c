// Link formats and the choice of the address for same-network links.
#include <gtest/gtest.h>

#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "core/links.h"
#include "core/registry.h"
#include "platform/adapters.h"
#include "platform/net_os.h"

namespace {

bool IsDottedIpv4(const std::string& s) {
  in_addr a{};
  return inet_pton(AF_INET, s.c_str(), &a) == 1;
}

// An adapter: Ethernet (E), Wi-Fi (W), loopback (L) or other (O); "-" after the
// letter: down; "g": with a default gateway.
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
      {{A("E", {"10.0.0.5"}), A("W", {"192.168.1.7"})}, "192.168.1.7"},
      {{A("W", {"192.168.1.7"}), A("E", {"10.0.0.5"})}, "192.168.1.7"},
      {{A("E", {"10.0.0.5"}), A("W", {"192.168.1.7", "192.168.1.8"}), A("W", {"192.168.2.9"})}, "192.168.1.7"},
      {{A("W-", {"192.168.1.7"}), A("E", {"10.0.0.5"})}, "10.0.0.5"},
      {{A("W", {}), A("E", {"10.0.0.5"})}, "10.0.0.5"},
      {{A("L", {"127.0.0.1"}), A("E", {"10.0.0.5", "10.0.0.6"})}, "10.0.0.5"},
      {{A("E-", {"10.0.0.5"}), A("E", {"10.0.0.6"})}, "10.0.0.6"},
      {{A("O", {"172.17.0.1"}), A("E", {"192.168.0.2"})}, "172.17.0.1"},  // list order among non-Wi-Fi
      {{A("L", {"127.0.0.1"}), A("E", {"169.254.3.4"})}, "169.254.3.4"},  // link-local if all there is
      {{A("E", {"172.29.144.1"}), A("Eg", {"192.168.0.2"})}, "192.168.0.2"},
      {{A("E", {"169.254.3.4", "192.168.0.2"})}, "192.168.0.2"},
      {{A("Eg", {"169.254.3.4"}), A("E", {"10.0.0.5"})}, "10.0.0.5"},
      {{A("Eg", {"10.0.0.5"}), A("W", {"192.168.1.7"})}, "192.168.1.7"},
      {{A("W", {"192.168.56.1"}), A("Wg", {"192.168.1.7"})}, "192.168.1.7"},
      {{A("W", {"169.254.9.9"}), A("E", {"10.0.0.5"})}, "10.0.0.5"},
      {{A("E", {"169.25.1.1"}), A("E", {"10.169.254.1"})}, "169.25.1.1"},  // first two octets only
      {{A("E", {"203.0.113.9"})}, "203.0.113.9"},
      {{}, ""},
      {{A("L", {"127.0.0.1"})}, ""},
      {{A("E-", {"10.0.0.5"}), A("W-", {"192.168.1.7"})}, ""},
  };
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(ChoosePreferredIp(cases[i].adapters), cases[i].want) << "row " << i;
}

#ifndef _WIN32
TEST(DefaultRouteInterfaces, LinuxRouteTable) {
  std::ifstream in(VH_TEST_DATA_DIR "/proc_net_route.txt");
  ASSERT_TRUE(in);
  std::ostringstream table;
  table << in.rdbuf();
  // Default routes that are up, each interface once; other routes, a route
  // that is down and a cut-off line are left out.
  EXPECT_EQ(DefaultRouteInterfaces(table.str()), std::vector<std::string>({"wlp2s0", "enp3s0"}));
  EXPECT_TRUE(DefaultRouteInterfaces("").empty());
}
#endif

TEST(AddressLookup, AlwaysGivesAnIpv4Address) {
  const std::string lan = GetLanIP();
  EXPECT_TRUE(IsDottedIpv4(lan)) << lan;
  const std::string preferred = GetPreferredNetworkIP();
  EXPECT_TRUE(IsDottedIpv4(preferred)) << preferred;
}

TEST(AddressLookup, SystemListShowsLoopbackAsLoopback) {
  std::vector<NetAdapter> adapters;
  ASSERT_TRUE(ListNetAdapters(adapters));
#ifndef _WIN32
  // The default route's interface is marked as having a gateway.
  std::ifstream routes("/proc/net/route");
  std::ostringstream table;
  table << routes.rdbuf();
  bool anyGateway = false;
  for (const NetAdapter& a : adapters) anyGateway = anyGateway || a.gateway;
  EXPECT_EQ(anyGateway, !DefaultRouteInterfaces(table.str()).empty());
#endif
  for (const NetAdapter& a : adapters) {
    for (const std::string& ip : a.ipv4) {
      EXPECT_TRUE(IsDottedIpv4(ip)) << ip;
      if (ip.rfind("127.", 0) == 0) {
        EXPECT_EQ(a.ifType, kIfTypeSoftwareLoopback) << ip;
      }
    }
  }
}

class BuildItemUrlTest : public ::testing::Test {
 protected:
  void TearDown() override {
    g_cachedLanIp.clear();
    g_port = 0;
    std::lock_guard<std::mutex> lock(g_hostedMtx);
    g_tunHost.clear();
  }
};

TEST_F(BuildItemUrlTest, Formats) {
  const struct {
    int mode, port;
    const char *lanIp, *tunHost, *slug, *want;
  } cases[] = {
      {1, 20000, "", "", "abc", "http://127.0.0.1:20000/abc"},
      {1, 49999, "10.0.0.5", "https://x-y.trycloudflare.com", "Report-A", "http://10.0.0.5:49999/Report-A"},
      {0, 20000, "192.168.1.7", "", "abc", ""},
      {0, 20000, "192.168.1.7", "https://x-y.trycloudflare.com", "abc", "https://x-y.trycloudflare.com/abc"},
  };
  for (const auto& c : cases) {
    HostedItem item;
    item.mode = c.mode;
    item.slug = c.slug;
    item.url = "stale";
    g_cachedLanIp = c.lanIp;
    g_port = c.port;
    std::lock_guard<std::mutex> lock(g_hostedMtx);
    g_tunHost = c.tunHost;
    BuildItemUrl_locked(item);
    EXPECT_EQ(item.url, c.want);
  }
}

}  // namespace
