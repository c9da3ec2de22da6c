#include "core/links.h"

#include "platform/net.h"

namespace {
std::string g_cachedLanIp;  // see LanAddress
int g_port = 0;             // see ServerPort
constexpr const char* kLoopbackIp = "127.0.0.1";
constexpr const char* kLinkLocalPrefix = "169.254.";  // 169.254.0.0/16 in dotted decimal
}  // namespace

std::string LanAddress() { return g_cachedLanIp; }
void RefreshLanAddress() { g_cachedLanIp = GetPreferredNetworkIP(); }
int ServerPort() { return g_port; }
void SetServerPort(int port) { g_port = port; }

void BuildItemUrl_locked(const HostedLock& lock, HostedItem& item) {
  if (item.mode == ShareMode::kInternet) {
    const std::string& host = TunnelHost_locked(lock);
    item.url = host.empty() ? std::string() : host + "/" + item.slug;
    return;
  }
  const std::string& address = g_cachedLanIp.empty() ? std::string(kLoopbackIp) : g_cachedLanIp;
  item.url = "http://" + address + ":" + std::to_string(g_port) + "/" + item.slug;
}

std::string ChoosePreferredIp(const std::vector<NetAdapter>& adapters) {
  std::string best;
  int bestKey = -1;
  for (const NetAdapter& a : adapters) {
    if (!a.up || a.ifType == kIfTypeSoftwareLoopback) continue;
    for (const std::string& ip : a.ipv4) {
      if (ip.empty()) continue;
      // Most significant first: reachable by others, Wi-Fi, default gateway.
      const int key = (ip.rfind(kLinkLocalPrefix, 0) != 0 ? 4 : 0) +
                      (a.ifType == kIfTypeIeee80211 ? 2 : 0) + (a.gateway ? 1 : 0);
      if (key > bestKey) {
        bestKey = key;
        best = ip;
      }
    }
  }
  return best;
}

std::string GetPreferredNetworkIP() {
  std::vector<NetAdapter> adapters;
  if (!ListNetAdapters(adapters)) return GetLanIP();
  std::string ip = ChoosePreferredIp(adapters);
  return ip.empty() ? GetLanIP() : ip;
}

std::string GetLanIP() {
  const std::string ip = HostNameIPv4();
  return ip.empty() ? std::string(kLoopbackIp) : ip;
}
