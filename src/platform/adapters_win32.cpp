#include "platform/adapters.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include <vector>

bool ListNetAdapters(std::vector<NetAdapter>& out) {
  out.clear();
  const ULONG flags = GAA_FLAG_INCLUDE_PREFIX | GAA_FLAG_INCLUDE_GATEWAYS;
  ULONG size = 0;
  GetAdaptersAddresses(AF_INET, flags, nullptr, nullptr, &size);
  if (size == 0) return false;
  std::vector<unsigned char> buf(size, 0);
  auto* first = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buf.data());
  if (GetAdaptersAddresses(AF_INET, flags, nullptr, first, &size) != NO_ERROR) return false;
  for (const IP_ADAPTER_ADDRESSES* a = first; a; a = a->Next) {
    NetAdapter adapter;
    adapter.up = a->OperStatus == IfOperStatusUp;
    adapter.ifType = a->IfType;
    for (const IP_ADAPTER_UNICAST_ADDRESS* u = a->FirstUnicastAddress; u; u = u->Next) {
      const sockaddr* sa = u->Address.lpSockaddr;
      if (!sa || sa->sa_family != AF_INET) continue;
      char text[22] = {};
      const auto* sin = reinterpret_cast<const sockaddr_in*>(sa);
      if (inet_ntop(AF_INET, &sin->sin_addr, text, sizeof text)) adapter.ipv4.emplace_back(text);
    }
    for (const IP_ADAPTER_GATEWAY_ADDRESS_LH* g = a->FirstGatewayAddress; g; g = g->Next) {
      const sockaddr* sa = g->Address.lpSockaddr;
      if (!sa || sa->sa_family != AF_INET) continue;
      if (reinterpret_cast<const sockaddr_in*>(sa)->sin_addr.s_addr != 0) adapter.gateway = true;
    }
    out.push_back(std::move(adapter));
  }
  return true;
}
