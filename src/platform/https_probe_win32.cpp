#include "platform/https_probe.h"

#include <windows.h>
#include <winhttp.h>

#include "platform/owned.h"

namespace {
constexpr int kProbeTimeoutMs = 4000;
constexpr wchar_t kUserAgent[] = L"VornHale/1.0";

using WinHttpHandle = Owned<HINTERNET, static_cast<HINTERNET>(nullptr), WinHttpCloseHandle>;
}  // namespace

bool ProbeHttpsStatus200(const std::wstring& url) {
  wchar_t host[256] = {};
  wchar_t path[256] = {};
  URL_COMPONENTS uc{};
  uc.dwStructSize = sizeof uc;  // 104
  uc.lpszHostName = host;
  uc.dwHostNameLength = 255;
  uc.lpszUrlPath = path;
  uc.dwUrlPathLength = 255;
  if (!WinHttpCrackUrl(url.c_str(), 0, 0, &uc)) return false;

  // Destroyed in reverse order: request, connection, session.
  WinHttpHandle session(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) return false;
  WinHttpSetTimeouts(session.get(), kProbeTimeoutMs, kProbeTimeoutMs, kProbeTimeoutMs,
                     kProbeTimeoutMs);
  WinHttpHandle connection(WinHttpConnect(session.get(), host, INTERNET_DEFAULT_HTTPS_PORT, 0));
  if (!connection) return false;
  WinHttpHandle request(WinHttpOpenRequest(connection.get(), L"GET", path, nullptr,
                                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                           WINHTTP_FLAG_SECURE));
  if (!request) return false;
  if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA,
                          0, 0, 0))
    return false;
  if (!WinHttpReceiveResponse(request.get(), nullptr)) return false;
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
    return false;
  return status == 200;
}
