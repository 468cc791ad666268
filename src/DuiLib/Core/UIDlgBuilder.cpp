#include "DuiLib/Core/UIDlgBuilder.h"

namespace DuiLib {
namespace {
// Includes nest at most this deep, so a file that includes itself cannot recurse without end.
constexpr int kMaxIncludeDepth = 8;
}

std::unique_ptr<CControlUI> CDialogBuilder::Create(const CMarkup& markup) {
    if (!markup.IsValid()) return nullptr;
    return Build(*markup.GetRoot(), 0);
}

std::unique_ptr<CControlUI> CDialogBuilder::Create(const std::wstring& entryName) {
    CMarkup markup;
    if (!markup.LoadFromResource(entryName)) return nullptr;
    return Create(markup);
}

std::unique_ptr<CControlUI> CDialogBuilder::Build(const CMarkupNode& node, int includeDepth) {
    auto control = std::make_unique<CControlUI>(node.name);
    for (const auto& a : node.attributes) control->SetAttribute(a.first, a.second);
    for (const CMarkupNode& child : node.children) {
        if (child.name == L"Include") {
            if (includeDepth >= kMaxIncludeDepth) continue;
            CMarkup included;
            if (!included.LoadFromResource(child.GetAttributeValue(L"source"))) continue;
            control->Add(Build(*included.GetRoot(), includeDepth + 1));
            continue;
        }
        control->Add(Build(child, includeDepth));
    }
    return control;
}

}  // namespace DuiLib
