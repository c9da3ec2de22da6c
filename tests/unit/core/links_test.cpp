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
#include "platform/net.h"

namespace {

bool IsDottedIpv4(const std::string& s) {
  in_addr a{};
  return inet_pton(AF_INET, s.c_str(), &a) == 1;
}

NetAdapter Adapter(unsigned type, bool up, std::vector<std::string> ips, bool gateway = false) {
  NetAdapter a;
  a.ifType = type;
  a.up = up;
  a.ipv4 = std::move(ips);
  a.gateway = gateway;
  return a;
}

constexpr bool kGateway = true;

constexpr unsigned kEth = kIfTypeEthernet;
constexpr unsigned kWifi = kIfTypeIeee80211;
constexpr unsigned kLoop = kIfTypeSoftwareLoopback;

TEST(ChoosePreferredIp, ReachableThenWifiThenGatewayThenListOrder) {
  const struct {
    const char* what;
    std::vector<NetAdapter> adapters;
    std::string want;
  } cases[] = {
      {"wifi after ethernet",
       {Adapter(kEth, true, {"10.0.0.5"}), Adapter(kWifi, true, {"192.168.1.7"})},
       "192.168.1.7"},
      {"wifi before ethernet",
       {Adapter(kWifi, true, {"192.168.1.7"}), Adapter(kEth, true, {"10.0.0.5"})},
       "192.168.1.7"},
      {"first of two wifi adapters",
       {Adapter(kEth, true, {"10.0.0.5"}), Adapter(kWifi, true, {"192.168.1.7", "192.168.1.8"}),
        Adapter(kWifi, true, {"192.168.2.9"})},
       "192.168.1.7"},
      {"wifi down",
       {Adapter(kWifi, false, {"192.168.1.7"}), Adapter(kEth, true, {"10.0.0.5"})},
       "10.0.0.5"},
      {"wifi without IPv4",
       {Adapter(kWifi, true, {}), Adapter(kEth, true, {"10.0.0.5"})},
       "10.0.0.5"},
      {"loopback skipped",
       {Adapter(kLoop, true, {"127.0.0.1"}), Adapter(kEth, true, {"10.0.0.5", "10.0.0.6"})},
       "10.0.0.5"},
      {"down adapter skipped",
       {Adapter(kEth, false, {"10.0.0.5"}), Adapter(kEth, true, {"10.0.0.6"})},
       "10.0.0.6"},
      {"list order among non-wifi (virtual first)",
       {Adapter(kIfTypeOther, true, {"172.17.0.1"}), Adapter(kEth, true, {"192.168.0.2"})},
       "172.17.0.1"},
      {"link-local when it is all there is",
       {Adapter(kLoop, true, {"127.0.0.1"}), Adapter(kEth, true, {"169.254.3.4"})},
       "169.254.3.4"},
      {"gateway-less virtual adapter before ethernet with a gateway",
       {Adapter(kEth, true, {"172.29.144.1"}), Adapter(kEth, true, {"192.168.0.2"}, kGateway)},
       "192.168.0.2"},
      {"link-local before private on one adapter",
       {Adapter(kEth, true, {"169.254.3.4", "192.168.0.2"})},
       "192.168.0.2"},
      {"link-local adapter with a gateway before a private one without",
       {Adapter(kEth, true, {"169.254.3.4"}, kGateway), Adapter(kEth, true, {"10.0.0.5"})},
       "10.0.0.5"},
      {"wifi without a gateway over ethernet with one",
       {Adapter(kEth, true, {"10.0.0.5"}, kGateway), Adapter(kWifi, true, {"192.168.1.7"})},
       "192.168.1.7"},
      {"wifi with a gateway over wifi without",
       {Adapter(kWifi, true, {"192.168.56.1"}), Adapter(kWifi, true, {"192.168.1.7"}, kGateway)},
       "192.168.1.7"},
      {"wifi with only a link-local address loses to private ethernet",
       {Adapter(kWifi, true, {"169.254.9.9"}), Adapter(kEth, true, {"10.0.0.5"})},
       "10.0.0.5"},
      {"169.254 only as the first two octets",
       {Adapter(kEth, true, {"169.25.1.1"}), Adapter(kEth, true, {"10.169.254.1"})},
       "169.25.1.1"},
      {"public address not filtered", {Adapter(kEth, true, {"203.0.113.9"})}, "203.0.113.9"},
      {"no adapter", {}, ""},
      {"only loopback", {Adapter(kLoop, true, {"127.0.0.1"})}, ""},
      {"nothing up",
       {Adapter(kEth, false, {"10.0.0.5"}), Adapter(kWifi, false, {"192.168.1.7"})},
       ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ChoosePreferredIp(c.adapters), c.want) << c.what;
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
    int mode;
    const char* lanIp;
    int port;
    const char* tunHost;
    const char* slug;
    const char* want;
  } cases[] = {
      {1, "", 20000, "", "abc", "http://127.0.0.1:20000/abc"},
      {1, "192.168.1.7", 49999, "", "Report-A", "http://192.168.1.7:49999/Report-A"},
      {1, "10.0.0.5", 20001, "https://x-y.trycloudflare.com", "k3j2h1g0f9e8",
       "http://10.0.0.5:20001/k3j2h1g0f9e8"},
      {0, "192.168.1.7", 20000, "", "abc", ""},
      {0, "192.168.1.7", 20000, "https://x-y.trycloudflare.com", "abc",
       "https://x-y.trycloudflare.com/abc"},
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
