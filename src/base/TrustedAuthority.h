#pragma once
// Whom this build trusts to vouch for a server or a signer: the deployment's choice (TLS_TRUST),
// made once here for the TLS policy (HTTPS servers) and the installer's signature check alike.

namespace TrustedAuthority {

// The PEM certificate of the build's test authority in a test build (the only authority such a
// build trusts); null in a release, which trusts the Windows certificate store.
const char* Pem();

}  // namespace TrustedAuthority
