#pragma once
// A control of the UI tree: built from one layout element, found by its name, read and
// written as text and state. Drawing comes with the window toolkit; this is the model.
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace DuiLib {

class CControlUI {
public:
    explicit CControlUI(std::wstring className = L"Control") : m_class(std::move(className)) {}
    virtual ~CControlUI() = default;
    CControlUI(const CControlUI&) = delete;
    CControlUI& operator=(const CControlUI&) = delete;

    const std::wstring& GetClass() const { return m_class; }
    const std::wstring& GetName() const { return m_name; }
    void SetName(const std::wstring& name) { m_name = name; }
    const std::wstring& GetText() const { return m_text; }
    void SetText(const std::wstring& text) { m_text = text; }
    bool IsVisible() const { return m_visible; }
    void SetVisible(bool visible) { m_visible = visible; }
    bool IsEnabled() const { return m_enabled; }
    void SetEnabled(bool enabled) { m_enabled = enabled; }
    bool IsSelected() const { return m_selected; }
    void SetSelected(bool selected) { m_selected = selected; }

    // Layout attributes not interpreted above, kept as written.
    void SetAttribute(const std::wstring& name, const std::wstring& value);
    std::wstring GetAttribute(const std::wstring& name) const;

    CControlUI* GetParent() const { return m_parent; }
    size_t GetCount() const { return m_children.size(); }
    CControlUI* GetItemAt(size_t index) const { return index < m_children.size() ? m_children[index].get() : nullptr; }
    CControlUI* Add(std::unique_ptr<CControlUI> child);

    // Depth-first search of this control and its descendants; the first match wins.
    CControlUI* FindControl(const std::wstring& name);

private:
    std::wstring m_class;
    std::wstring m_name;
    std::wstring m_text;
    bool m_visible = true;
    bool m_enabled = true;
    bool m_selected = false;
    std::vector<std::pair<std::wstring, std::wstring>> m_attributes;
    CControlUI* m_parent = nullptr;
    std::vector<std::unique_ptr<CControlUI>> m_children;
};

}  // namespace DuiLib
