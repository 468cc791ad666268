#pragma once
// Builds a control tree from a layout of the skin archive.
//
// A layout whose root is <Window> describes a window: its attributes (size, caption, ...) and
// its <Font> and <Default> elements go to the paint manager, and its controls become the
// children of a root container. Any other root element is itself the root control (language
// files, the product configuration). An <Include source="..."/> element is replaced by the named
// file: by its controls when it is a <Window>, else by its root; includes nest at most 8 deep.
// Element names choose the control class; an unknown name gives a plain control that keeps its
// attributes (data such as the configuration labels).
#include <memory>
#include <string>

#include "DuiLib/Control/UIControl.h"
#include "DuiLib/Core/UIMarkup.h"

namespace DuiLib {

class CPaintManagerUI;

// Lets a window create controls of its own classes.
class IDialogBuilderCallback {
public:
    virtual ~IDialogBuilderCallback() = default;
    // A new control for the element name, or null for the toolkit's own classes.
    virtual CControlUI* CreateControl(const std::wstring& className) = 0;
};

class CDialogBuilder {
public:
    // The tree of a parsed layout; null when the markup holds no root. With a manager, window
    // attributes and fonts are given to it.
    std::unique_ptr<CControlUI> Create(const CMarkup& markup, CPaintManagerUI* manager = nullptr,
                                       IDialogBuilderCallback* callback = nullptr);
    // Parses the archive entry and builds its tree; null when it is missing or malformed.
    std::unique_ptr<CControlUI> Create(const std::wstring& entryName, CPaintManagerUI* manager = nullptr,
                                       IDialogBuilderCallback* callback = nullptr);

    // A control of one of the toolkit's classes ("Button", "VerticalLayout", ...), or a plain
    // control of that class name.
    static std::unique_ptr<CControlUI> CreateControl(const std::wstring& className);

private:
    std::unique_ptr<CControlUI> Build(const CMarkupNode& node, int includeDepth);
    void BuildChildren(const CMarkupNode& node, CControlUI* parent, int includeDepth);
    void ApplyWindowElement(const CMarkupNode& node);

    CPaintManagerUI* m_manager = nullptr;
    IDialogBuilderCallback* m_callback = nullptr;
    std::vector<std::pair<std::wstring, std::wstring>> m_defaults;  // class -> attribute list
};

}  // namespace DuiLib
