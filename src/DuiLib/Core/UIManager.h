#pragma once
// The paint manager of one window: owns its control tree and answers look-ups by name.
// Process-wide it holds the instance handle and the skin archive that every layout comes from.
#include <memory>
#include <string>

#include <windows.h>

#include "DuiLib/Control/UIControl.h"
#include "DuiLib/Core/UIResourceZip.h"

namespace DuiLib {

class CPaintManagerUI {
public:
    static void SetInstance(HINSTANCE instance);
    static HINSTANCE GetInstance();
    // Hands the skin archive (a ZIP image in memory) to the toolkit; the bytes are copied.
    static bool SetResourceZip(const void* data, size_t size);
    static const CResourceZip& GetResourceZip();

    void AttachRoot(std::unique_ptr<CControlUI> root) { m_root = std::move(root); }
    CControlUI* GetRoot() const { return m_root.get(); }
    CControlUI* FindControl(const std::wstring& name) const;

    // Text of the named control, or empty when there is none.
    std::wstring GetControlText(const std::wstring& name) const;

private:
    std::unique_ptr<CControlUI> m_root;
};

}  // namespace DuiLib
