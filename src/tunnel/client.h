// The tunnel client (cloudflared): where it is expected and how it is started.
#pragma once

#include <string>
#include <vector>

// Where the tunnel client is expected. Windows: the program's folder plus
// "\cloudflared.exe", nothing else. POSIX: "<program folder>/cloudflared" when
// present, else the first "cloudflared" on PATH, else the path next to the
// program. Empty when the program's own folder cannot be read (the client
// then counts as missing).
std::wstring GetCloudflaredPath();

// Presence test: the file's attributes can be read.
bool CloudflaredPresent(const std::wstring& path);

// The client's program and arguments for a server on `port`: the path, then
// "tunnel --no-autoupdate --protocol http2 --url http://localhost:" and the
// port in decimal. Joined on Windows (JoinCommandLine) into: the quoted path,
// " tunnel --no-autoupdate --protocol http2 --url http://localhost:PORT".
std::vector<std::wstring> CloudflaredArguments(const std::wstring& path, int port);
