// The tunnel client (cloudflared): where it is expected and how it is started.
#pragma once

#include <string>

// Where the tunnel client is expected. Windows: the program's folder plus
// "\cloudflared.exe", nothing else. POSIX: "<program folder>/cloudflared" when
// present, else the first "cloudflared" on PATH, else the path next to the
// program.
std::wstring GetCloudflaredPath();

// Presence test: the file's attributes can be read.
bool CloudflaredPresent(const std::wstring& path);

// The client's command line for a server on `port`: the quoted path, then
// " tunnel --no-autoupdate --protocol http2 --url http://localhost:" and the
// port in decimal.
std::wstring CloudflaredCommandLine(const std::wstring& path, int port);
