#include "tunnel/address.h"

namespace {

bool IsAddressEnd(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == '|' ||
         c == '"' || c == '\'';
}

bool IsLabelChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

// "https://" + one label of letters, digits and '-' + "." + kTunnelSuffix, and
// nothing after it. The client also prints the service's own API address
// (a failed "Post https://api.<suffix>/tunnel"): that one is never ours.
bool IsQuickTunnelAddress(const std::string& candidate) {
  constexpr char kScheme[] = "https://";
  constexpr size_t kSchemeLen = sizeof kScheme - 1;
  const std::string tail = std::string(".") + kTunnelSuffix;
  if (candidate.size() <= kSchemeLen + tail.size()) return false;
  if (candidate.compare(0, kSchemeLen, kScheme) != 0) return false;
  if (candidate.compare(candidate.size() - tail.size(), tail.size(), tail) != 0) return false;
  const std::string label = candidate.substr(kSchemeLen, candidate.size() - kSchemeLen - tail.size());
  for (const char c : label) {
    if (!IsLabelChar(c)) return false;
  }
  std::string lower = label;
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower != "api";
}

}  // namespace

std::string ExtractTunnelURL(const std::string& line) {
  const size_t start = line.find("https://");
  if (start == std::string::npos) return std::string();
  size_t end = start;
  while (end < line.size() && !IsAddressEnd(line[end])) ++end;
  std::string candidate = line.substr(start, end - start);
  return IsQuickTunnelAddress(candidate) ? candidate : std::string();
}
