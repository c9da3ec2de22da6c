// The machine's network adapters with their IPv4 addresses, as the address
// choice for same-network links needs them (GetAdaptersAddresses on Windows,
// getifaddrs and the kernel's route table on Linux).
#pragma once

#include <string>
#include <vector>

// Interface types as IANA numbers them (the values Windows reports).
constexpr unsigned kIfTypeOther = 1;
constexpr unsigned kIfTypeEthernet = 6;
constexpr unsigned kIfTypeSoftwareLoopback = 24;
constexpr unsigned kIfTypeIeee80211 = 71;

struct NetAdapter {
  bool up = false;                // operationally up (POSIX: IFF_UP and IFF_RUNNING)
  unsigned ifType = kIfTypeOther;  // POSIX: loopback by IFF_LOOPBACK, Wi-Fi by /sys/class/net/<if>/wireless
  std::vector<std::string> ipv4;   // dotted-decimal IPv4 addresses, in the system's order
  bool gateway = false;            // an IPv4 default gateway is reached through this adapter
};

// The adapters in the system's order; false when the list could not be read.
bool ListNetAdapters(std::vector<NetAdapter>& out);

// The interfaces that carry an IPv4 default route (destination and mask 0, up) in
// the text of a Linux route table (/proc/net/route: a header line, then one
// tab-separated route a line, interface name first), in table order, each
// once. Lines that do not parse are skipped.
std::vector<std::string> DefaultRouteInterfaces(const std::string& table);
