// Times what the install worker does between the end of the download and the installer's
// start: the package lock, the MD5 digest with its stamp and the signature check (side by side,
// as the worker runs them).
//   verify_driver.exe PACKAGE [AUTHORITY_DER]
// AUTHORITY_DER: a root certificate to trust first (the test signing authority).
// Prints "verify <ms> digest <md5> signature <0|1>".
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "download/DownLoadImpl.h"
#include "install/PackageCheck.h"

namespace {

bool TrustRoot(const std::wstring& derPath) {
    std::ifstream in(derPath.c_str(), std::ios::binary);
    std::vector<unsigned char> der((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (der.empty()) return false;
    HCERTSTORE root = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (!root) return false;
    BOOL ok = CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                               CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    CertCloseStore(root, 0);
    return ok != FALSE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: verify_driver.exe PACKAGE [AUTHORITY_DER]\n");
        return 2;
    }
    std::wstring package = argv[1];
    if (argc > 2 && !TrustRoot(argv[2])) fprintf(stderr, "could not trust %ls\n", argv[2]);

    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    PackageLock lock;
    lock.Acquire(package);
    PackageVerdict verdict = VerifyHeldPackage(package, lock, true, L"", L"", L"bench");
    lock.Release();
    QueryPerformanceCounter(&end);
    bool signatureOk = verdict.signatureGood;

    // The digest the check computed, from the record it leaves beside the package ("bench###<md5>"):
    // the script compares it with md5sum's, without a second pass over the file.
    std::string digest;
    std::ifstream record((package + L".db").c_str(), std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(record)), std::istreambuf_iterator<char>());
    const size_t mark = text.rfind("###");
    if (mark != std::string::npos) digest = text.substr(mark + 3);
    record.close();
    double ms = (end.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart;
    printf("verify %.1f digest %s signature %d\n", ms, digest.c_str(), signatureOk ? 1 : 0);
    DeleteFileW((package + L".db").c_str());
    return 0;
}
