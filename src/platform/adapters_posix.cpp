#include "platform/adapters.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "platform/net_os.h"
#include "platform/owned.h"

namespace {

// Address labels ("eth0:1") belong to their base interface.
std::string BaseName(const char* name) {
  std::string s = name ? name : "";
  const size_t colon = s.find(':');
  if (colon != std::string::npos) s.resize(colon);
  return s;
}

bool IsWireless(const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos) return false;
  struct stat st {};
  const std::string probe = "/sys/class/net/" + name + "/wireless";
  return ::stat(probe.c_str(), &st) == 0;
}

// The kernel's IPv4 route table; empty where there is none (not Linux).
std::string ReadRouteTable() {
  std::ifstream in("/proc/net/route");
  if (!in) return std::string();
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

bool ListNetAdapters(std::vector<NetAdapter>& out) {
  out.clear();
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return false;
  const Owned<ifaddrs*, static_cast<ifaddrs*>(nullptr), freeifaddrs> owned(list);
  std::vector<std::string> names;
  for (ifaddrs* a = list; a; a = a->ifa_next) {
    const std::string name = BaseName(a->ifa_name);
    size_t idx = 0;
    while (idx < names.size() && names[idx] != name) ++idx;
    if (idx == names.size()) {
      names.push_back(name);
      NetAdapter adapter;
      if (a->ifa_flags & IFF_LOOPBACK)
        adapter.ifType = kIfTypeSoftwareLoopback;
      else if (IsWireless(name))
        adapter.ifType = kIfTypeIeee80211;
      else
        adapter.ifType = kIfTypeEthernet;
      out.push_back(adapter);
    }
    NetAdapter& adapter = out[idx];
    const unsigned need = IFF_UP | IFF_RUNNING;
    if ((a->ifa_flags & need) == need) adapter.up = true;
    if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
    char buf[22] = {};
    const auto* sin = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
    if (inet_ntop(AF_INET, &sin->sin_addr, buf, sizeof buf)) adapter.ipv4.emplace_back(buf);
  }
  for (const std::string& iface : DefaultRouteInterfaces(ReadRouteTable())) {
    for (size_t i = 0; i < names.size(); ++i) {
      if (names[i] == iface) out[i].gateway = true;
    }
  }
  return true;
}
