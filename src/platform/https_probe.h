// One reachability probe: a single HTTPS GET whose only interesting result is
// whether the answer's status is 200. Windows: WinHTTP; POSIX: libcurl.
#pragma once

#include <string>

// Sends one GET for url (https://host/path) to port 443 of the host, whatever
// port the url names, with the user agent "VornHale/1.0" and 4000 ms
// time-outs; the server certificate is checked the platform's default way.
// True only when the status is 200. The body is not read. Blocks for at most
// the time-outs.
bool ProbeHttpsStatus200(const std::wstring& url);
