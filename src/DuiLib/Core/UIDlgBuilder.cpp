#include "DuiLib/Core/UIDlgBuilder.h"

#include "DuiLib/Control/UIButton.h"
#include "DuiLib/Control/UICombo.h"
#include "DuiLib/Control/UIEdit.h"
#include "DuiLib/Control/UIGifAnim.h"
#include "DuiLib/Control/UILabel.h"
#include "DuiLib/Control/UIProgress.h"
#include "DuiLib/Core/UIManager.h"
#include "DuiLib/Layout/UIContainer.h"

namespace DuiLib {
namespace {
// Includes nest at most this deep, so a file that includes itself cannot recurse without end.
constexpr int kMaxIncludeDepth = 8;

bool IsWindowData(const std::wstring& name) { return name == L"Font" || name == L"Default" || name == L"Image"; }
}  // namespace

std::unique_ptr<CControlUI> CDialogBuilder::CreateControl(const std::wstring& c) {
    if (c == L"Label") return std::make_unique<CLabelUI>();
    if (c == L"Text") return std::make_unique<CTextUI>();
    if (c == L"Button") return std::make_unique<CButtonUI>();
    if (c == L"Option") return std::make_unique<COptionUI>();
    if (c == L"CheckBox") return std::make_unique<CCheckBoxUI>();
    if (c == L"Combo") return std::make_unique<CComboUI>();
    if (c == L"ListLabelElement") return std::make_unique<CListLabelElementUI>();
    if (c == L"Edit") return std::make_unique<CEditUI>();
    if (c == L"Progress") return std::make_unique<CProgressUI>();
    if (c == L"GifAnim") return std::make_unique<CGifAnimUI>();
    if (c == L"Container") return std::make_unique<CContainerUI>();
    if (c == L"VerticalLayout") return std::make_unique<CVerticalLayoutUI>();
    if (c == L"HorizontalLayout") return std::make_unique<CHorizontalLayoutUI>();
    if (c == L"TabLayout") return std::make_unique<CTabLayoutUI>();
    return std::make_unique<CControlUI>(c);
}

std::unique_ptr<CControlUI> CDialogBuilder::Create(const CMarkup& markup, CPaintManagerUI* manager, IDialogBuilderCallback* callback) {
    if (!markup.IsValid()) return nullptr;
    m_manager = manager;
    m_callback = callback;
    m_defaults.clear();
    const CMarkupNode& root = *markup.GetRoot();
    if (root.name != L"Window") return Build(root, 0);
    ApplyWindowElement(root);
    auto window = std::make_unique<CContainerUI>(L"Window");
    BuildChildren(root, window.get(), 0);
    return window;
}

std::unique_ptr<CControlUI> CDialogBuilder::Create(const std::wstring& entryName, CPaintManagerUI* manager, IDialogBuilderCallback* callback) {
    CMarkup markup;
    if (!markup.LoadFromResource(entryName)) return nullptr;
    return Create(markup, manager, callback);
}

void CDialogBuilder::ApplyWindowElement(const CMarkupNode& node) {
    if (m_manager)
        for (const auto& a : node.attributes) m_manager->SetWindowAttribute(a.first, a.second);
    for (const CMarkupNode& child : node.children) {
        if (child.name == L"Font" && m_manager) {
            TFontInfo font;
            font.face = child.GetAttributeValue(L"name");
            font.size = UI::ParseInt(child.GetAttributeValue(L"size"), 12);
            font.bold = UI::ParseBool(child.GetAttributeValue(L"bold"));
            font.underline = UI::ParseBool(child.GetAttributeValue(L"underline"));
            font.italic = UI::ParseBool(child.GetAttributeValue(L"italic"));
            int id = UI::ParseInt(child.GetAttributeValue(L"id"), 0);
            m_manager->AddFont(id, font, UI::ParseBool(child.GetAttributeValue(L"default")));
        } else if (child.name == L"Default") {
            m_defaults.emplace_back(child.GetAttributeValue(L"name"), child.GetAttributeValue(L"value"));
        }
    }
}

void CDialogBuilder::BuildChildren(const CMarkupNode& node, CControlUI* parent, int includeDepth) {
    for (const CMarkupNode& child : node.children) {
        if (IsWindowData(child.name)) continue;
        if (child.name == L"Include") {
            if (includeDepth >= kMaxIncludeDepth) continue;
            CMarkup included;
            if (!included.LoadFromResource(child.GetAttributeValue(L"source"))) continue;
            const CMarkupNode& root = *included.GetRoot();
            int count = std::max(1, UI::ParseInt(child.GetAttributeValue(L"count"), 1));
            for (int i = 0; i < count; ++i) {
                if (root.name == L"Window") {
                    ApplyWindowElement(root);
                    BuildChildren(root, parent, includeDepth + 1);
                } else if (auto built = Build(root, includeDepth + 1)) {
                    parent->Add(std::move(built));
                }
            }
            continue;
        }
        if (auto built = Build(child, includeDepth)) parent->Add(std::move(built));
    }
}

std::unique_ptr<CControlUI> CDialogBuilder::Build(const CMarkupNode& node, int includeDepth) {
    std::unique_ptr<CControlUI> control;
    if (m_callback)
        if (CControlUI* custom = m_callback->CreateControl(node.name)) control.reset(custom);
    if (!control) control = CreateControl(node.name);
    for (const auto& d : m_defaults)
        if (d.first == node.name) control->ApplyAttributeList(d.second);
    for (const auto& a : node.attributes) control->SetAttribute(a.first, a.second);
    // Children of a control that holds none (a label with child elements) are dropped; a plain
    // control of an unknown class keeps its children as data in a container of its name.
    if (!node.children.empty() && !control->GetInterface(L"Container")) {
        if (control->GetInterface(L"Label") || control->GetInterface(L"Progress") || control->GetInterface(L"GifAnim")) return control;
        auto holder = std::make_unique<CContainerUI>(node.name);
        for (const auto& a : node.attributes) holder->SetAttribute(a.first, a.second);
        control = std::move(holder);
    }
    BuildChildren(node, control.get(), includeDepth);
    return control;
}

}  // namespace DuiLib
