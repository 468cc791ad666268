// Self-signed certificate for the HTTPS listener.
#pragma once

#include <string>

// Makes sure DIR holds cert.pem and key.pem (an RSA key and a certificate for
// 127.0.0.1 and localhost), creating them when either is missing. Files are
// written under temporary names and renamed, so parallel starts that share DIR
// never read a half-written file. Returns false with a reason on failure.
bool ensureCertificate(const std::string &dir, std::string &certPath, std::string &keyPath,
                       std::string &error);
