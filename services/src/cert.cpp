#include "cert.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

static bool fileExists(const std::string &p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
}

static bool makeDirs(const std::string &dir) {
    std::string cur;
    for (size_t i = 0; i <= dir.size(); ++i) {
        if (i == dir.size() || dir[i] == '/') {
            if (!cur.empty()) mkdir(cur.c_str(), 0755);
        }
        if (i < dir.size()) cur += dir[i];
    }
    struct stat st;
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

static bool addExtension(X509 *cert, int nid, const char *value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION *ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext) return false;
    bool ok = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

bool ensureCertificate(const std::string &dir, std::string &certPath, std::string &keyPath,
                       std::string &error) {
    certPath = dir + "/cert.pem";
    keyPath = dir + "/key.pem";
    if (fileExists(certPath) && fileExists(keyPath)) return true;
    if (!makeDirs(dir)) { error = "cannot create " + dir; return false; }

    // Parallel starts sharing DIR take turns, so a key and a certificate from
    // two different runs never end up side by side.
    int lockFd = open((dir + "/.lock").c_str(), O_CREAT | O_RDWR, 0644);
    if (lockFd >= 0) flock(lockFd, LOCK_EX);
    struct Unlock {
        int fd;
        ~Unlock() { if (fd >= 0) close(fd); }
    } unlock{lockFd};
    if (fileExists(certPath) && fileExists(keyPath)) return true;

    EVP_PKEY *key = EVP_RSA_gen(2048);
    X509 *cert = X509_new();
    bool ok = key && cert;
    if (ok) {
        X509_set_version(cert, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(cert), long(time(nullptr)));
        X509_gmtime_adj(X509_getm_notBefore(cert), -24 * 3600);
        X509_gmtime_adj(X509_getm_notAfter(cert), 10L * 365 * 24 * 3600);
        X509_set_pubkey(cert, key);
        X509_NAME *name = X509_get_subject_name(cert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char *>("127.0.0.1"), -1, -1, 0);
        X509_set_issuer_name(cert, name);
        ok = addExtension(cert, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost") &&
             addExtension(cert, NID_basic_constraints, "critical,CA:FALSE") &&
             X509_sign(cert, key, EVP_sha256()) > 0;
    }

    // Write both under names private to this process, then rename into place.
    std::string suffix = ".tmp" + std::to_string(getpid());
    if (ok) {
        FILE *kf = fopen((keyPath + suffix).c_str(), "w");
        FILE *cf = fopen((certPath + suffix).c_str(), "w");
        ok = kf && cf && PEM_write_PrivateKey(kf, key, nullptr, nullptr, 0, nullptr, nullptr) == 1 &&
             PEM_write_X509(cf, cert) == 1;
        if (kf) fclose(kf);
        if (cf) fclose(cf);
        if (ok) {
            chmod((keyPath + suffix).c_str(), 0600);
            ok = rename((keyPath + suffix).c_str(), keyPath.c_str()) == 0 &&
                 rename((certPath + suffix).c_str(), certPath.c_str()) == 0;
        }
        unlink((keyPath + suffix).c_str());
        unlink((certPath + suffix).c_str());
    }
    X509_free(cert);
    EVP_PKEY_free(key);
    if (!ok) error = "cannot create a certificate in " + dir;
    return ok;
}
