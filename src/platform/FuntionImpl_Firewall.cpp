// The firewall rule: the decisions over the seam, and the seam over the firewall's COM objects
// (INetFwMgr -> INetFwPolicy -> INetFwProfile -> INetFwAuthorizedApplications).
#include "platform/FuntionImpl_Firewall.h"

#include <windows.h>
#include <netfw.h>
#include <objbase.h>
#include <oleauto.h>

#include <cstdio>

#include "base/TextCodec.h"

namespace FuntionImpl {

namespace {

std::string Failed(const char* call, long hr) {
    char text[96];
    snprintf(text, sizeof(text), "%s failed: 0x%08lx\n", call, static_cast<unsigned long>(hr));
    return text;
}

// Both "is enabled" and "is now enabled" name the path as the console shows it.
std::string Authorized(const std::wstring& path, const char* state) {
    return "Authorized application " + TextCodec::WideToAnsi(path) + " is " + state + " in the firewall.\n";
}

// Step 4: a new entry with every field set, added to the list. Each call is checked in turn.
void AddEntry(const FirewallEntry& entry, IFirewallSeam& fw) {
    long hr = fw.CreateApplication();
    if (FAILED(hr)) return fw.Print(Failed("CoCreateInstance", hr));
    if (FAILED(hr = fw.PutProcessImageFileName(entry.imageFileName))) return fw.Print(Failed("put_ProcessImageFileName", hr));
    if (FAILED(hr = fw.PutScope(entry.scope))) return fw.Print(Failed("put_Scope", hr));
    if (FAILED(hr = fw.PutIpVersion(entry.ipVersion))) return fw.Print(Failed("put_IpVersion", hr));
    if (FAILED(hr = fw.PutEnabled(entry.enabled))) return fw.Print(Failed("put_Enabled", hr));
    if (FAILED(hr = fw.PutName(entry.name))) return fw.Print(Failed("put_Name", hr));
    if (FAILED(hr = fw.AddApplication())) return fw.Print(Failed("Add", hr));
    fw.Print(Authorized(entry.imageFileName, "now enabled"));
}

// Steps 2 to 4, with COM initialised. Result as AddFirewallException.
int WithCom(const FirewallEntry& entry, IFirewallSeam& fw) {
    long hr = fw.CreateManager();
    const char* failedCall = "CoCreateInstance";
    if (SUCCEEDED(hr)) {
        hr = fw.GetLocalPolicy();
        failedCall = "get_LocalPolicy";
    }
    if (SUCCEEDED(hr)) {
        hr = fw.GetCurrentProfile();
        failedCall = "get_CurrentProfile";
    }
    if (FAILED(hr)) {
        fw.Print(Failed(failedCall, hr));
        fw.Print(Failed("WindowsFirewallInitialize", hr));
        return -1;
    }

    hr = fw.GetAuthorizedApplications();
    if (FAILED(hr)) {
        fw.Print(Failed("get_AuthorizedApplications", hr));
        return 0;
    }
    bool enabled = false;
    if (SUCCEEDED(fw.FindApplication(entry.imageFileName, enabled)) && enabled) {
        fw.Print(Authorized(entry.imageFileName, "enabled"));
        return 0;
    }
    AddEntry(entry, fw);
    return 0;
}

// The firewall's COM objects, held between the calls of one AddFirewallException.
class ComFirewall : public IFirewallSeam {
public:
    long Initialize() override { return CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE); }
    void Uninitialize() override { CoUninitialize(); }
    long CreateManager() override {
        return CoCreateInstance(__uuidof(NetFwMgr), nullptr, CLSCTX_INPROC_SERVER, __uuidof(INetFwMgr),
                                reinterpret_cast<void**>(&m_manager));
    }
    long GetLocalPolicy() override { return m_manager->get_LocalPolicy(&m_policy); }
    long GetCurrentProfile() override { return m_policy->get_CurrentProfile(&m_profile); }
    long GetAuthorizedApplications() override { return m_profile->get_AuthorizedApplications(&m_applications); }
    long FindApplication(const std::wstring& imageFileName, bool& enabled) override {
        BSTR name = SysAllocString(imageFileName.c_str());
        if (name == nullptr) return E_OUTOFMEMORY;
        INetFwAuthorizedApplication* found = nullptr;
        HRESULT hr = m_applications->Item(name, &found);
        SysFreeString(name);
        if (FAILED(hr) || found == nullptr) return FAILED(hr) ? hr : E_POINTER;
        VARIANT_BOOL on = VARIANT_FALSE;
        hr = found->get_Enabled(&on);
        found->Release();
        enabled = SUCCEEDED(hr) && on != VARIANT_FALSE;
        return hr;
    }
    long CreateApplication() override {
        return CoCreateInstance(__uuidof(NetFwAuthorizedApplication), nullptr, CLSCTX_INPROC_SERVER,
                                __uuidof(INetFwAuthorizedApplication), reinterpret_cast<void**>(&m_entry));
    }
    long PutProcessImageFileName(const std::wstring& path) override {
        return WithBstr(path, [this](BSTR text) { return m_entry->put_ProcessImageFileName(text); });
    }
    long PutScope(int scope) override { return m_entry->put_Scope(static_cast<NET_FW_SCOPE>(scope)); }
    long PutIpVersion(int ipVersion) override { return m_entry->put_IpVersion(static_cast<NET_FW_IP_VERSION>(ipVersion)); }
    long PutEnabled(bool enabled) override { return m_entry->put_Enabled(enabled ? VARIANT_TRUE : VARIANT_FALSE); }
    long PutName(const std::wstring& name) override {
        return WithBstr(name, [this](BSTR text) { return m_entry->put_Name(text); });
    }
    long AddApplication() override { return m_applications->Add(m_entry); }
    void ReleaseObjects() override {
        Release(m_entry);
        Release(m_applications);
        Release(m_profile);
        Release(m_policy);
        Release(m_manager);
    }
    void Print(const std::string& text) override {
        fputs(text.c_str(), stdout);
        fflush(stdout);
    }

private:
    template <typename Call>
    static long WithBstr(const std::wstring& value, Call call) {
        BSTR text = SysAllocString(value.c_str());
        if (text == nullptr) return E_OUTOFMEMORY;
        HRESULT hr = call(text);
        SysFreeString(text);
        return hr;
    }
    template <typename T>
    static void Release(T*& object) {
        if (object) object->Release();
        object = nullptr;
    }

    INetFwMgr* m_manager = nullptr;
    INetFwPolicy* m_policy = nullptr;
    INetFwProfile* m_profile = nullptr;
    INetFwAuthorizedApplications* m_applications = nullptr;
    INetFwAuthorizedApplication* m_entry = nullptr;
};

}  // namespace

FirewallEntry FirewallEntryFor(const std::wstring& executablePath) {
    FirewallEntry entry;
    entry.imageFileName = executablePath;
    entry.scope = NET_FW_SCOPE_ALL;
    entry.ipVersion = NET_FW_IP_VERSION_ANY;
    entry.enabled = true;
    entry.name = L"Kdr_setup1.0.0.1";
    return entry;
}

int AddFirewallException(const std::wstring& executablePath, IFirewallSeam& firewall) {
    // COM already initialised in another mode is good enough for in-process objects.
    long hr = firewall.Initialize();
    if (FAILED(hr) && hr != RPC_E_CHANGED_MODE) {
        firewall.Print(Failed("CoInitializeEx", hr));
        return -1;
    }
    int result = WithCom(FirewallEntryFor(executablePath), firewall);
    firewall.ReleaseObjects();
    // Every successful initialisation (S_OK and S_FALSE alike) is balanced, on every path.
    if (SUCCEEDED(hr)) firewall.Uninitialize();
    return result;
}

int AddFirewallException(const std::wstring& executablePath) {
    ComFirewall firewall;
    return AddFirewallException(executablePath, firewall);
}

}  // namespace FuntionImpl
