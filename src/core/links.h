// Share links and the choice of this computer's address for same-network links.
#pragma once

#include <string>
#include <vector>

#include "core/registry.h"
#include "platform/adapters.h"

// What same-network links are made of, this file's own and used on the GUI
// thread only. The dotted-decimal IPv4 address: empty until the server first
// starts; RefreshLanAddress (the listener's start and re-bind) chooses it
// afresh with GetPreferredNetworkIP. The server's listening port: 0 while
// stopped, set by the listener.
std::string LanAddress();
void RefreshLanAddress();
int ServerPort();
void SetServerPort(int port);

// Sets item.url from its mode and slug: Internet the tunnel's public address
// + "/" + slug, or empty while there is none; same network "http://" + address + ":" +
// ServerPort() + "/" + slug, the address being LanAddress() or "127.0.0.1" while it
// is empty.
void BuildItemUrl_locked(const HostedLock& lock, HostedItem& item);

// The first IPv4 address, in list order, of the up, non-loopback adapters
// with the highest key, compared in this order: outside 169.254.0.0/16, on a
// Wi-Fi adapter, on an adapter with an IPv4 default gateway. Empty when there
// is none. Virtual adapters (WSL, Hyper-V, host-only networks) usually have no
// gateway, and a link-local address is one nobody else can open.
std::string ChoosePreferredIp(const std::vector<NetAdapter>& adapters);

// ChoosePreferredIp over the system's adapters, GetLanIP when that gives
// nothing. Never empty.
std::string GetPreferredNetworkIP();

// The first IPv4 address the computer's host name resolves to, "127.0.0.1" on
// any failure. Never empty.
std::string GetLanIP();
