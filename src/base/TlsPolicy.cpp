#include "base/TlsPolicy.h"

namespace TlsPolicy {

CURLcode Apply(CURL* handle) {
    CURLcode kept = curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, kVerifyPeer);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, kVerifyPeer);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, kVerifyHost);
    return kept;
}

}  // namespace TlsPolicy
