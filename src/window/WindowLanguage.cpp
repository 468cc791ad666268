#include "window/WindowLanguage.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "base/LanguageTables.h"
#include "DuiLib/Control/UILabel.h"
#include "DuiLib/Core/UIDlgBuilder.h"
#include "DuiLib/Core/UIManager.h"
#include "DuiLib/Core/UIRender.h"
#include "base/LanguageFaces.h"
#include "deployment_values.h"
#include "platform/FuntionImpl.h"

namespace WindowLanguage {

bool LoadPage(int32_t language, const std::wstring& page, Labels& labels, bool* fileLoaded) {
    labels.clear();
    DuiLib::CDialogBuilder builder;
    std::unique_ptr<DuiLib::CControlUI> root = builder.Create(GetLanguageFilePath(language));
    if (fileLoaded) *fileLoaded = root != nullptr;
    if (!root) return false;
    DuiLib::CControlUI* pageControl = root->FindControl(page);
    if (!pageControl) return false;
    for (size_t i = 0; i < pageControl->GetCount(); ++i) {
        DuiLib::CControlUI* label = pageControl->GetItemAt(i);
        if (label) labels.emplace_back(label->GetName(), label->GetText());
    }
    return true;
}

std::wstring GetLanguageText(const std::wstring& page, const std::wstring& key, int32_t language) {
    Labels labels;
    if (!LoadPage(language, page, labels)) return std::wstring();
    for (const auto& label : labels)
        if (label.first == key) return label.second;
    return std::wstring();
}

void ApplyLanguageFace(DuiLib::CPaintManagerUI& pm, int32_t language) {
    pm.SetFontFaceOverride(GetLanguageUiFace(language));
    pm.SetRTL(IsRightToLeftLanguage(language));
}

bool ApplyInstallPage(DuiLib::CPaintManagerUI& pm, int32_t language, InstallPageFormats& formats) {
    Labels labels;
    if (!LoadPage(language, L"install_page", labels)) return false;
    for (auto it = labels.rbegin(); it != labels.rend(); ++it) {
        const std::wstring& key = it->first;
        const std::wstring& text = it->second;
        if (key == L"install_label") formats.progress = text;
        else if (key == L"space_need") formats.needSpace = text;
        else if (key == L"space_free") formats.freeSpace = text;
        if (key.empty()) continue;
        if (DuiLib::CControlUI* control = pm.FindControl(key)) control->SetText(text);
    }
    return true;
}

bool ApplyLicence(DuiLib::CPaintManagerUI& pm, int32_t language, int32_t siteId, bool useNewLicense) {
    DuiLib::CControlUI* licence = pm.FindControl(GetLicenseControlName(language));
    auto* text = dynamic_cast<DuiLib::CLabelUI*>(pm.FindControl(L"license_text"));
    if (!licence || !text) return false;
    text->SetText(licence->GetText());
    DuiLib::CControlUI* holder = pm.FindControl(L"license_text_layout");
    if (!holder) return true;
    int height = LicenseTextHeight(language, siteId, useNewLicense,
                                   pm.GetControlText(LicenseHeightOverrideKey(language))) + 170;
    // A height written for another text may be too short for this one: the panel never cuts
    // the text off.
    pm.UpdateLayout();
    const RECT& pos = text->GetPos();
    RECT pad = text->Scale(text->GetTextPadding());
    int width = (pos.right - pos.left) - pad.left - pad.right;
    if (width > 0) {
        DuiLib::TTextLayout layout = DuiLib::CRenderEngine::LayoutText(
            pm.GetPaintDC(), &pm, DuiLib::ParseRichText(text->GetText(), text->IsShowHtml()), text->GetFont(), width,
            DT_WORDBREAK);
        height = std::max(height, MulDiv(layout.size.cy + pad.top + pad.bottom, 100, pm.GetScale()) + 16);
    }
    holder->SetFixedHeight(height);
    return true;
}

int32_t ChooseLanguageItem(int32_t wanted, const std::vector<bool>& itemVisible) {
    const int32_t count = static_cast<int32_t>(itemVisible.size());
    if (count == 0) return 0;
    if (wanted >= 0 && wanted < count && itemVisible[wanted]) return wanted;
    for (int32_t i = 0; i < count; ++i)
        if (itemVisible[i]) return i;
    return 0;
}

std::wstring LicenseHeightOverrideKey(int32_t language) {
    wchar_t key[40] = {};
    std::swprintf(key, 40, L"LicenseHeightLang%02d", static_cast<int>(language));
    return key;
}

int LicenseTextHeight(int32_t language, int32_t siteId, bool useNewLicense, const std::wstring& overrideText) {
    int height = GetLicenseHeight(language, siteId);
    if (!useNewLicense) {
        int32_t override = FuntionImpl::ParseLeadingInt(overrideText);
        if (override >= 1) height = override;
    }
    return height;
}

UninstallRoot FindUninstallRoot() {
    auto opens = [](const wchar_t* path) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
        RegCloseKey(key);
        return true;
    };
    if (opens(L"SoftWare\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall")) return UninstallRoot::Wow6432Node;
    if (opens(L"SoftWare\\Microsoft\\Windows\\CurrentVersion\\Uninstall")) return UninstallRoot::Native;
    return UninstallRoot::None;
}

bool PlanProductLanguage(int32_t downloaderId, int32_t language, const std::wstring& softwareName,
                         const std::wstring& vendorKey, UninstallRoot uninstallRoot, ProductLanguageValue& out) {
    out = ProductLanguageValue();
    if (downloaderId == 104) {
        out.root = HKEY_CURRENT_USER;
        out.key = L"Software\\Brevant\\Clipwright Studio";
        out.valueName = L"kCurrentLanguage";
        out.value = language == Chinese ? L"Chinese" : L"English";
        return true;
    }
    if (downloaderId >= 113 && downloaderId <= 115) {
        out.root = HKEY_CURRENT_USER;
        out.key = L"Software\\" + vendorKey + L"\\Travo";
        out.valueName = L"Lang";
        switch (language) {
            case Japanese: out.value = L"ja_JP"; break;
            case Chinese: out.value = L"zh_CN"; break;
            case Spanish: out.value = L"es_ES"; break;
            case German: out.value = L"de_DE"; break;
            case French: out.value = L"fr_FR"; break;
            case Russian: out.value = L"ru_RU"; break;
            case Portuguese: out.value = L"pt_BR"; break;
            case ChineseTrad: out.value = L"zh_TW"; break;
            default: out.value = L"en_US"; break;
        }
        return true;
    }
    const wchar_t* folder = nullptr;
    switch (uninstallRoot) {
        case UninstallRoot::Wow6432Node: folder = L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"; break;
        case UninstallRoot::Native: folder = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"; break;
        case UninstallRoot::None: return false;
    }
    out.root = HKEY_LOCAL_MACHINE;
    out.key = std::wstring(folder) + L"{" + softwareName + L"}_is1";
    out.valueName = L"Inno Setup: Language";
    out.value = GetProductLanguageCode(language);
    return true;
}

bool SaveProductLanguage(int32_t downloaderId, int32_t language, const std::wstring& softwareName) {
    ProductLanguageValue target;
    UninstallRoot root = (downloaderId == 104 || (downloaderId >= 113 && downloaderId <= 115)) ? UninstallRoot::None
                                                                                               : FindUninstallRoot();
    if (!PlanProductLanguage(downloaderId, language, softwareName, VendorKey(), root, target)) return false;
    HKEY key = nullptr;
    if (RegCreateKeyExW(target.root, target.key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    // The size counts the characters without the terminating one, as the products read it.
    LONG rc = RegSetValueExW(key, target.valueName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(target.value.c_str()),
                             static_cast<DWORD>(target.value.size() * sizeof(wchar_t)));
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

std::wstring VendorKey() { return Deployment::VENDOR_KEY(); }

}  // namespace WindowLanguage
