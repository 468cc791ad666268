#include "DuiLib/Core/UIManager.h"

namespace DuiLib {
namespace {

HINSTANCE g_instance = nullptr;

CResourceZip& ResourceZip() {
    static CResourceZip zip;
    return zip;
}

}  // namespace

void CPaintManagerUI::SetInstance(HINSTANCE instance) { g_instance = instance; }
HINSTANCE CPaintManagerUI::GetInstance() { return g_instance; }

bool CPaintManagerUI::SetResourceZip(const void* data, size_t size) { return ResourceZip().Open(data, size); }
const CResourceZip& CPaintManagerUI::GetResourceZip() { return ResourceZip(); }

CControlUI* CPaintManagerUI::FindControl(const std::wstring& name) const {
    return m_root ? m_root->FindControl(name) : nullptr;
}

std::wstring CPaintManagerUI::GetControlText(const std::wstring& name) const {
    CControlUI* control = FindControl(name);
    return control ? control->GetText() : std::wstring();
}

}  // namespace DuiLib
