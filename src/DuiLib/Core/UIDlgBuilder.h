#pragma once
// Builds a control tree from a layout of the skin archive. An <Include source="..."/> element
// is replaced by the root of the named file, so shared parts (the product configuration) are
// found by name in every window that includes them.
#include <memory>
#include <string>

#include "DuiLib/Control/UIControl.h"
#include "DuiLib/Core/UIMarkup.h"

namespace DuiLib {

class CDialogBuilder {
public:
    // The tree of a parsed layout; null when the markup holds no root.
    std::unique_ptr<CControlUI> Create(const CMarkup& markup);
    // Parses the archive entry and builds its tree; null when it is missing or malformed.
    std::unique_ptr<CControlUI> Create(const std::wstring& entryName);

private:
    std::unique_ptr<CControlUI> Build(const CMarkupNode& node, int includeDepth);
};

}  // namespace DuiLib
