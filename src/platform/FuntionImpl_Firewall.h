#pragma once
// The Windows Firewall rule of the setup: its own executable as an authorised application of the
// firewall's current profile, added when it is not one yet. The steps run through a seam, so the
// decisions (already authorised, added once, what each failing step prints and returns) can be
// tested without a firewall; the real seam speaks to the firewall's COM objects.
#include <string>

namespace FuntionImpl {

// What the authorised-application entry holds.
struct FirewallEntry {
    std::wstring imageFileName;
    int scope = 0;      // NET_FW_SCOPE_ALL
    int ipVersion = 2;  // NET_FW_IP_VERSION_ANY
    bool enabled = true;
    std::wstring name;  // "Kdr_setup1.0.0.1"
};
FirewallEntry FirewallEntryFor(const std::wstring& executablePath);

// One call of the firewall API per method; each returns the HRESULT of that call (a 32-bit
// long, as HRESULT is). The seam holds the COM objects between the calls.
class IFirewallSeam {
public:
    virtual ~IFirewallSeam() = default;
    virtual long Initialize() = 0;  // CoInitializeEx, apartment-threaded, OLE 1 DDE off
    virtual void Uninitialize() = 0;
    virtual long CreateManager() = 0;      // CoCreateInstance of the firewall manager (INetFwMgr)
    virtual long GetLocalPolicy() = 0;     // INetFwMgr::get_LocalPolicy
    virtual long GetCurrentProfile() = 0;  // INetFwPolicy::get_CurrentProfile
    virtual long GetAuthorizedApplications() = 0;
    // INetFwAuthorizedApplications::Item, then get_Enabled of the entry found. A failure of
    // Item means "not listed".
    virtual long FindApplication(const std::wstring& imageFileName, bool& enabled) = 0;
    virtual long CreateApplication() = 0;  // CoCreateInstance of an INetFwAuthorizedApplication
    virtual long PutProcessImageFileName(const std::wstring& path) = 0;
    virtual long PutScope(int scope) = 0;
    virtual long PutIpVersion(int ipVersion) = 0;
    virtual long PutEnabled(bool enabled) = 0;
    virtual long PutName(const std::wstring& name) = 0;
    virtual long AddApplication() = 0;  // INetFwAuthorizedApplications::Add of the new entry
    virtual void ReleaseObjects() = 0;
    // The messages of the steps (standard output for the real seam).
    virtual void Print(const std::string& text) = 0;
};

// Adds the executable to the authorised applications of the current profile when it is not
// there and enabled already. 0 when the firewall could be reached (whether or not an entry had
// to be added, and also when adding it failed), -1 when COM or the firewall manager, its local
// policy or its current profile could not be had. Every step checks its result: a failing step
// prints "<call> failed: 0x%08lx\n" and nothing after it is attempted.
int AddFirewallException(const std::wstring& executablePath, IFirewallSeam& firewall);
// The same over this machine's firewall COM objects.
int AddFirewallException(const std::wstring& executablePath);

}  // namespace FuntionImpl
