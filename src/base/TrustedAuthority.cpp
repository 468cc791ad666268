#include "base/TrustedAuthority.h"

#include "deployment_values.h"

namespace TrustedAuthority {

const char* Pem() {
    return Deployment::kTrustTestAuthority && Deployment::kTestAuthorityPem[0] ? Deployment::kTestAuthorityPem : nullptr;
}

}  // namespace TrustedAuthority
