// The public address in one line of the tunnel client's output.
#include <gtest/gtest.h>

#include <string>

#include "tunnel/address.h"

TEST(ExtractTunnelURL, Table) {
  const std::string x = "https://x.trycloudflare.com";
  const struct {
    std::string line, want;
  } cases[] = {
      {"INF | https://foo-bar.trycloudflare.com |", "https://foo-bar.trycloudflare.com"},
      {"2024-05-01T10:00:00Z INF |  https://a-b-c.trycloudflare.com   |", "https://a-b-c.trycloudflare.com"},
      {x, x},  // end of line
      {"see " + x + "\tnext", x}, {"see " + x + "\vnext", x}, {"see " + x + "\fnext", x},
      {"see " + x + "\rnext", x}, {"see " + x + "\nnext", x},
      {"url=\"" + x + "\" ok", x}, {"url='" + x + "' ok", x}, {x + "|rest", x},
      {"https://Big-Host-9.trycloudflare.com", "https://Big-Host-9.trycloudflare.com"},
      {"https://apis.trycloudflare.com", "https://apis.trycloudflare.com"},
      // Exactly one label of [A-Za-z0-9-] before the suffix and nothing after it.
      {x + "/", ""}, {x + ":8443/a?b", ""}, {x + "x", ""},
      {"https://trycloudflare.com.example.org", ""}, {"https://127.0.0.1/trycloudflare.com", ""},
      {"https://a.b.trycloudflare.com", ""}, {"https://.trycloudflare.com", ""},
      {"https://trycloudflare.com", ""}, {"https://x_y.trycloudflare.com", ""},
      {"https://user@x.trycloudflare.com", ""}, {"https:// x.trycloudflare.com", ""},
      // The service's own API address, printed when the client fails.
      {"ERR failed: Post \"https://api.trycloudflare.com/tunnel\": lookup api.trycloudflare.com", ""},
      {"https://api.trycloudflare.com", ""}, {"https://API.trycloudflare.com", ""},
      // Other hosts, other schemes, nothing at all.
      {"Visit https://www.cloudflare.com/ for help", ""}, {"https://trycloudflare.org", ""},
      {"nothing here", ""}, {"", ""}, {"http://plain.trycloudflare.com", ""},
      {"HTTPS://upper.trycloudflare.com", ""}, {"https://host.example trycloudflare.com", ""},
      // Only the first "https://" of a line is looked at.
      {"https://docs.example.com " + x, ""}, {x + " https://second.trycloudflare.com", x},
  };
  for (const auto& c : cases) EXPECT_EQ(ExtractTunnelURL(c.line), c.want) << "line: " << c.line;
}
