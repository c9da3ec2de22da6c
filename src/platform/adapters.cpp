#include "platform/adapters.h"

#include <cstdlib>
#include <sstream>

namespace {
constexpr unsigned long kRouteUp = 0x1;  // RTF_UP
}  // namespace

std::vector<std::string> DefaultRouteInterfaces(const std::string& table) {
  std::vector<std::string> out;
  std::istringstream lines(table);
  std::string line;
  bool header = true;
  while (std::getline(lines, line)) {
    if (header) {
      header = false;
      continue;
    }
    // Iface Destination Gateway Flags RefCnt Use Metric Mask ...
    std::istringstream fields(line);
    std::string iface, dest, gateway, flags, refcnt, use, metric, mask;
    if (!(fields >> iface >> dest >> gateway >> flags >> refcnt >> use >> metric >> mask)) continue;
    if (dest != "00000000" || mask != "00000000") continue;
    char* end = nullptr;
    const unsigned long routeFlags = std::strtoul(flags.c_str(), &end, 16);
    if (end == flags.c_str() || *end != '\0' || (routeFlags & kRouteUp) == 0) continue;
    bool seen = false;
    for (const std::string& name : out) seen = seen || name == iface;
    if (!seen) out.push_back(iface);
  }
  return out;
}
