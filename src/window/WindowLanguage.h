#pragma once
// The window's side of the 21 languages: reading texts out of the language files of the skin
// archive, choosing the language the combo can show, the licence text height, and handing the
// chosen language to the installed product. The per-language values themselves are the tables
// of base/LanguageTables.
#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace DuiLib {
class CPaintManagerUI;
}

namespace WindowLanguage {

// Labels of one page of a language file ("install_page", "message_page") in file order: (name,
// text). False when the file cannot be loaded or has no such page (labels then stay empty);
// fileLoaded (when given) tells the two apart.
using Labels = std::vector<std::pair<std::wstring, std::wstring>>;
bool LoadPage(int32_t language, const std::wstring& page, Labels& labels, bool* fileLoaded = nullptr);

// The text of one label of a language file's page; empty when the file, the page or the label
// is missing.
std::wstring GetLanguageText(const std::wstring& page, const std::wstring& key, int32_t language);

// ---- A language on the main window's layout (the window, and the checks and screens that
// look at it without a window) ----

// The script's own face for every text of the layout, and right-to-left pages for Arabic.
void ApplyLanguageFace(DuiLib::CPaintManagerUI& pm, int32_t language);
// The formats "install_page" gives the window (progress label, needed and free space).
struct InstallPageFormats {
    std::wstring progress;
    std::wstring needSpace;
    std::wstring freeSpace;
};
// Every label of the language's "install_page", from the last to the first, onto the control of
// the same name; the three format keys are also kept in formats. False (nothing changed) when
// the file cannot be loaded or has no such page.
bool ApplyInstallPage(DuiLib::CPaintManagerUI& pm, int32_t language, InstallPageFormats& formats);
// The language's licence text into "license_text" and the height of "license_text_layout": the
// built-in or overriding height + 170, and never less than the text needs at the text's current
// width. False (nothing changed) when the licence layout has no text for the language.
bool ApplyLicence(DuiLib::CPaintManagerUI& pm, int32_t language, int32_t siteId, bool useNewLicense);

// The combo item to select for the wanted language, given which items are visible: the wanted
// item when it exists and shows, else item 0 when it shows, else the first visible item, else
// English (0). With no items at all, English.
int32_t ChooseLanguageItem(int32_t wanted, const std::vector<bool>& itemVisible);

// The configuration label that overrides a language's licence height ("LicenseHeightLang02").
std::wstring LicenseHeightOverrideKey(int32_t language);
// Height of the licence text: the built-in one, replaced by the override label's number when it
// is 1 or more, except with the new licence row, which ignores the override.
int LicenseTextHeight(int32_t language, int32_t siteId, bool useNewLicense, const std::wstring& overrideText);

// Where the installed product finds its language: one string value in the registry.
struct ProductLanguageValue {
    HKEY root = nullptr;
    std::wstring key;
    std::wstring valueName;
    std::wstring value;
};
// Which uninstall folder of the machine key exists: the 32-bit view's beside a 64-bit system,
// the plain one, or neither.
enum class UninstallRoot { Wow6432Node, Native, None };
UninstallRoot FindUninstallRoot();
// The value to write for a downloader id and language: the two sibling products (104; 113 to
// 115) keep their own keys, every other product the "Inno Setup: Language" value of its
// uninstall key. False when the uninstall key has no root to live under.
bool PlanProductLanguage(int32_t downloaderId, int32_t language, const std::wstring& softwareName,
                         const std::wstring& vendorKey, UninstallRoot uninstallRoot, ProductLanguageValue& out);
// Plans and writes the value (the key is created when missing). True when it was written.
bool SaveProductLanguage(int32_t downloaderId, int32_t language, const std::wstring& softwareName);

// The vendor key of the product's registry keys ("GA_PC" and the sibling product's language).
std::wstring VendorKey();

}  // namespace WindowLanguage
