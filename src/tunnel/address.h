// The tunnel client's public address: how it is recognised in one line of the
// client's output. Pure text work, no threads, no OS.
#pragma once

#include <string>

// The quick-tunnel domain: an output address counts only if it contains this.
constexpr const char* kTunnelSuffix = "trycloudflare.com";
// Path probed through the public address.
constexpr const char* kHealthPath = "/__vhhealth";

// The public address in one output line: the stretch from the first
// "https://" up to the first blank, tab, CR, LF, VT, FF, '|', '"' or '\'' (or
// the end), if that stretch is exactly "https://" + one label of
// [A-Za-z0-9-] + "." + kTunnelSuffix, the label not "api" in any case;
// otherwise empty. Only the first "https://" of the line is looked at.
std::string ExtractTunnelURL(const std::string& line);
