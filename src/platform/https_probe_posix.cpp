#include "platform/https_probe.h"

#include <curl/curl.h>

#include <mutex>

#include "platform/owned.h"
#include "platform/text.h"

namespace {
constexpr long kProbeTimeoutMs = 4000;
constexpr char kUserAgent[] = "VornHale/1.0";

// The body is not wanted: refusing the first chunk ends the transfer once the
// status line and headers are in.
size_t RefuseBody(char*, size_t, size_t, void*) { return 0; }

using CurlHandle = Owned<CURL*, static_cast<CURL*>(nullptr), curl_easy_cleanup>;
}  // namespace

bool ProbeHttpsStatus200(const std::wstring& url) {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  const std::string u = WstrToUtf8(url);
  if (u.empty()) return false;
  CurlHandle c(curl_easy_init());
  if (!c) return false;
  curl_easy_setopt(c.get(), CURLOPT_URL, u.c_str());
  curl_easy_setopt(c.get(), CURLOPT_PROTOCOLS_STR, "https");
  curl_easy_setopt(c.get(), CURLOPT_PORT, 443L);
  curl_easy_setopt(c.get(), CURLOPT_USERAGENT, kUserAgent);
  curl_easy_setopt(c.get(), CURLOPT_NOSIGNAL, 1L);
  // Resolve + connect within one time-out, the exchange within another.
  curl_easy_setopt(c.get(), CURLOPT_CONNECTTIMEOUT_MS, kProbeTimeoutMs);
  curl_easy_setopt(c.get(), CURLOPT_TIMEOUT_MS, 2 * kProbeTimeoutMs);
  curl_easy_setopt(c.get(), CURLOPT_WRITEFUNCTION, RefuseBody);
  const CURLcode rc = curl_easy_perform(c.get());
  if (rc != CURLE_OK && rc != CURLE_WRITE_ERROR) return false;
  long status = 0;
  if (curl_easy_getinfo(c.get(), CURLINFO_RESPONSE_CODE, &status) != CURLE_OK) return false;
  return status == 200;
}
