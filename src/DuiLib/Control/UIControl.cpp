#include "DuiLib/Control/UIControl.h"

namespace DuiLib {

void CControlUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
    if (name == L"name") { m_name = value; return; }
    if (name == L"text") { m_text = value; return; }
    if (name == L"visible") { m_visible = value != L"false"; return; }
    if (name == L"enabled") { m_enabled = value != L"false"; return; }
    if (name == L"selected") { m_selected = value == L"true"; return; }
    for (auto& a : m_attributes)
        if (a.first == name) { a.second = value; return; }
    m_attributes.emplace_back(name, value);
}

std::wstring CControlUI::GetAttribute(const std::wstring& name) const {
    for (const auto& a : m_attributes)
        if (a.first == name) return a.second;
    return std::wstring();
}

CControlUI* CControlUI::Add(std::unique_ptr<CControlUI> child) {
    child->m_parent = this;
    m_children.push_back(std::move(child));
    return m_children.back().get();
}

CControlUI* CControlUI::FindControl(const std::wstring& name) {
    if (!name.empty() && m_name == name) return this;
    for (auto& child : m_children)
        if (CControlUI* found = child->FindControl(name)) return found;
    return nullptr;
}

}  // namespace DuiLib
