#pragma once
// The one place that decides how TLS server certificates are treated on every libcurl request
// of the program. Today peer and host verification are off: the setup must reach its services
// behind intercepting proxies and on machines with stale root stores, and a certificate is never
// a reason for a download to fail. Changing the two constants below changes every request.
#include <curl/curl.h>

namespace TlsPolicy {

constexpr long kVerifyPeer = 0;  // CURLOPT_SSL_VERIFYPEER
constexpr long kVerifyHost = 0;  // CURLOPT_SSL_VERIFYHOST (2 would check the name)

// Sets CURLOPT_SSL_VERIFYPEER twice and CURLOPT_SSL_VERIFYHOST once on the handle, in that
// order, and returns the result of the first setting (the one the callers act on).
CURLcode Apply(CURL* handle);

}  // namespace TlsPolicy
