#pragma once
// The test product and installer packages built under tests/fixtures, seen from Wine, and what
// they leave behind: the product's launch records, the uninstall key, their processes.
#include <windows.h>
#include <tlhelp32.h>
#include <wincrypt.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace install_fixtures {

inline std::wstring PackagesDir() { return test_support::WinePath(ORBALA_FIXTURES_DIR); }
// A package by variant: "" (signed, installs), "deep", "slow", "noinstall", "unsigned",
// "otherpub", "selfsigned", "tampered".
inline std::wstring Package(const std::wstring& variant) {
    std::wstring base = PackagesDir() + L"\\" + std::wstring(L"" ORBALA_FIXTURE_PACKAGE_BASE);
    return variant.empty() ? base + L".exe" : base + L"_" + variant + L".exe";
}
// The product program as built (the installer carries the same bytes).
inline std::wstring ProductProgram() { return PackagesDir() + L"\\" + std::wstring(L"" ORBALA_FIXTURE_PROCESS_NAME); }
inline std::wstring ProcessName() { return L"" ORBALA_FIXTURE_PROCESS_NAME; }
inline std::wstring ProductName() { return L"" ORBALA_FIXTURE_PRODUCT_NAME; }

inline std::string Utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

inline std::vector<unsigned char> ReadBytes(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Adds the authorities of the test packages to the machine's trusted roots (the test prefix's
// only): the build's test authority, which signed the publisher's packages, so that Windows' own
// check passes them, and the second authority, so that only the setup's own judgement (a test
// build trusts its test authority alone) can refuse what it signed. True when both are trusted.
inline bool TrustTestAuthority() {
    HCERTSTORE root = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (!root) return false;
    bool trusted = true;
    for (const wchar_t* name : {L"ca.der", L"second-ca.der"}) {
        std::vector<unsigned char> der = ReadBytes(PackagesDir() + L"\\ca\\" + name);
        trusted = trusted && !der.empty() &&
                  CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, der.data(), DWORD(der.size()),
                                                   CERT_STORE_ADD_REPLACE_EXISTING, nullptr) != FALSE;
    }
    CertCloseStore(root, 0);
    return trusted;
}

inline bool CopyPackage(const std::wstring& variant, const std::wstring& to) {
    return CopyFileW(Package(variant).c_str(), to.c_str(), FALSE) != FALSE;
}

// One start of the product, as it recorded it in launches.txt beside itself.
struct Launch {
    std::string pid, commandLine, folder;
};
inline std::vector<Launch> Launches(const std::wstring& programFolder) {
    std::vector<Launch> out;
    std::istringstream in(test_support::ReadFile(programFolder + L"\\launches.txt"));
    std::string line;
    while (std::getline(in, line)) {
        Launch l;
        std::istringstream fields(line);
        std::string field;
        while (std::getline(fields, field, '\t')) {
            if (field.rfind("pid=", 0) == 0) l.pid = field.substr(4);
            if (field.rfind("cmdline=", 0) == 0) l.commandLine = field.substr(8);
            if (field.rfind("cwd=", 0) == 0) l.folder = field.substr(4);
        }
        out.push_back(l);
    }
    return out;
}
// Waits until the product recorded at least n starts in that folder.
inline std::vector<Launch> WaitForLaunches(const std::wstring& programFolder, size_t n, DWORD ms = 15000) {
    ULONGLONG start = GetTickCount64();
    std::vector<Launch> launches;
    while ((launches = Launches(programFolder)).size() < n && GetTickCount64() - start < ms) Sleep(50);
    return launches;
}

// The uninstall key the installer creates (32-bit view, as the 32-bit installer writes it).
inline std::wstring UninstallKeyPath() {
    return L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{" + ProductName() + L"}_is1";
}
inline bool ReadUninstallValue(const wchar_t* name, std::wstring& value) {
    wchar_t text[1024] = {};
    DWORD size = sizeof text;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, UninstallKeyPath().c_str(), name, RRF_RT_REG_SZ, nullptr, text, &size) !=
        ERROR_SUCCESS)
        return false;
    value = text;
    return true;
}
inline void DeleteUninstallKey() { RegDeleteKeyW(HKEY_LOCAL_MACHINE, UninstallKeyPath().c_str()); }

// Ids of the running processes whose executable name (case-insensitive) is one of names.
inline std::vector<DWORD> ProcessesNamed(const std::vector<std::wstring>& names) {
    std::vector<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return ids;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        for (const auto& name : names)
            if (lstrcmpiW(entry.szExeFile, name.c_str()) == 0) ids.push_back(entry.th32ProcessID);
    CloseHandle(snapshot);
    return ids;
}
// Ends the processes of those names (what a failed test may leave running).
inline void EndProcessesNamed(const std::vector<std::wstring>& names) {
    for (DWORD id : ProcessesNamed(names)) {
        if (id == GetCurrentProcessId()) continue;
        if (HANDLE p = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id)) {
            TerminateProcess(p, 0);
            WaitForSingleObject(p, 5000);
            CloseHandle(p);
        }
    }
}

}  // namespace install_fixtures
