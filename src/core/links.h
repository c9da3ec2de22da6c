// Share links and the choice of this computer's address for same-network links.
#pragma once

#include <string>
#include <vector>

#include "core/registry.h"
#include "platform/adapters.h"

// Dotted-decimal IPv4 address for same-network links; empty until the server
// first starts. Written by the listener's start and re-bind only (GUI thread).
extern std::string g_cachedLanIp;
// The server's listening port, 0 while stopped. Written by the listener
// (http/listener.cpp) on the GUI thread.
extern int g_port;

// Sets item.url from its mode and slug: Internet (mode 0) g_tunHost + "/" + slug,
// or empty while g_tunHost is empty; same network "http://" + address + ":" +
// g_port + "/" + slug, the address being g_cachedLanIp or "127.0.0.1" while it
// is empty. The caller holds g_hostedMtx.
void BuildItemUrl_locked(HostedItem& item);

// The address of the first up, non-loopback Wi-Fi adapter, else the first other
// IPv4 address of an up, non-loopback adapter (a Wi-Fi adapter's second address
// included); empty when there is none. No range filtering.
std::string ChoosePreferredIp(const std::vector<NetAdapter>& adapters);

// ChoosePreferredIp over the system's adapters, GetLanIP when that gives
// nothing. Never empty.
std::string GetPreferredNetworkIP();

// The first IPv4 address the computer's host name resolves to, "127.0.0.1" on
// any failure. Never empty.
std::string GetLanIP();
