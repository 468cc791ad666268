// Renders every page of the installer window and every message box kind, in every language of
// the skin, to PNG files, so that a person can look at them (./run screens). Nothing here is
// shipped: the layouts are drawn by the toolkit without a window, with the texts the window
// logic puts on them.
//
//   duilib_screens SKIN_ZIP OUT_FOLDER [LANGUAGE_FILTER] [SCALE_PERCENT]
//
// Writes OUT_FOLDER/<language>/<page>.png and prints one line per file.
#include <objidl.h>
#include <gdiplus.h>
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "DuiLib/Control/UIButton.h"
#include "DuiLib/Control/UICombo.h"
#include "DuiLib/Control/UILabel.h"
#include "DuiLib/Control/UIProgress.h"
#include "DuiLib/Core/UIDlgBuilder.h"
#include "DuiLib/Core/UIManager.h"
#include "DuiLib/Core/UIRender.h"
#include "DuiLib/Core/UISystemLook.h"
#include "DuiLib/Layout/UIContainer.h"
#include "base/LanguageFaces.h"
#include "base/LanguageTables.h"
#include "base/TextCodec.h"
#include "window/CAnima.h"
#include "window/MessageBoxKinds.h"
#include "window/MessageBoxWnd.h"

using namespace DuiLib;

namespace {

// The language files in EnumLanguage order, with the licence control of each.
struct Language {
    const wchar_t* file;
    const wchar_t* licence;
    const char* tag;
};
const Language kLanguages[] = {
    {L"language_english.xml", L"license_english", "english"},       {L"language_japanese.xml", L"license_japanese", "japanese"},
    {L"language_chinese.xml", L"license_chinese", "chinese"},       {L"language_spanish.xml", L"license_spanish", "spanish"},
    {L"language_german.xml", L"license_german", "german"},          {L"language_french.xml", L"license_french", "french"},
    {L"language_russian.xml", L"license_russian", "russian"},       {L"language_portuguese.xml", L"license_portuguese", "portuguese"},
    {L"language_arabic.xml", L"license_arabic", "arabic"},          {L"language_italiano.xml", L"license_italiano", "italiano"},
    {L"language_chinesetrad.xml", L"license_chinesetrad", "chinesetrad"}, {L"language_korean.xml", L"license_korean", "korean"},
    {L"language_nederland.xml", L"license_nederlands", "nederlands"}, {L"language_indonesian.xml", L"license_indonesian", "indonesian"},
    {L"language_turkish.xml", L"license_turkish", "turkish"},       {L"language_hindi.xml", L"license_hindi", "hindi"},
    {L"language_thai.xml", L"license_thai", "thai"},                {L"language_malay.xml", L"license_malay", "malay"},
    {L"language_swedish.xml", L"license_swedish", "swedish"},       {L"language_czech.xml", L"license_czech", "czech"},
    {L"language_vietnamese.xml", L"license_vietnamese", "vietnamese"},
};

// The file name of each message box kind's picture, in kind order.
const char* const kBoxNames[] = {
    "0-replace",       "1-plain",     "2-cancel",          "3-appexist",         "4-patherror",        "5-plaindown",
    "6-installtimeout", "7-md5fail",  "8-urlfail",         "9-internetfail",     "10-internettimeout", "11-noenoughspace",
    "12-clickshortcut", "13-notsupportsystem", "14-agree", "15-suggestssd",
};
static_assert(std::size(kBoxNames) == kMsgTypeCount, "a name for every message box kind");

using Texts = std::map<std::wstring, std::wstring>;

// The labels of one page of a language file ("install_page", "message_page").
bool LoadPage(const std::wstring& file, const wchar_t* page, Texts& out) {
    CDialogBuilder builder;
    std::unique_ptr<CControlUI> root = builder.Create(L"language\\" + file);
    if (!root) return false;
    CControlUI* p = root->FindControl(page);
    if (!p) return false;
    for (size_t i = 0; i < p->GetCount(); ++i) {
        CControlUI* label = p->GetItemAt(i);
        if (!label->GetName().empty()) out[label->GetName()] = label->GetText();
    }
    return true;
}

std::wstring Get(const Texts& texts, const std::wstring& key) {
    auto it = texts.find(key);
    return it == texts.end() ? std::wstring() : it->second;
}

std::wstring Format(const std::wstring& format, double value) {
    wchar_t buffer[1024];
    std::swprintf(buffer, 1024, format.c_str(), value);
    return buffer;
}

CLSID PngEncoder() {
    UINT count = 0, size = 0;
    Gdiplus::GetImageEncodersSize(&count, &size);
    std::vector<BYTE> buffer(size);
    auto* encoders = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
    Gdiplus::GetImageEncoders(count, size, encoders);
    for (UINT i = 0; i < count; ++i)
        if (wcscmp(encoders[i].MimeType, L"image/png") == 0) return encoders[i].Clsid;
    return CLSID{};
}

bool SavePng(const TImageInfo& image, const std::wstring& path) {
    Gdiplus::Bitmap bitmap(image.width, image.height, image.width * 4, PixelFormat32bppPARGB, image.bits);
    CLSID png = PngEncoder();
    return bitmap.Save(path.c_str(), &png, nullptr) == Gdiplus::Ok;
}

// A layered layout over a grey desktop, so that its transparent parts show.
std::unique_ptr<TImageInfo> OverDesktop(const TImageInfo& image) {
    auto out = ImageCodec::Create(image.width + 40, image.height + 40);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, out->hBitmap);
    HBRUSH grey = CreateSolidBrush(RGB(0x9A, 0x9A, 0xA6));
    RECT all{0, 0, out->width, out->height};
    FillRect(dc, &all, grey);
    DeleteObject(grey);
    CRenderEngine::DrawImage(dc, image, RECT{20, 20, 20 + image.width, 20 + image.height}, all, RECT{0, 0, image.width, image.height},
                             RECT{0, 0, 0, 0}, 255, false);
    SelectObject(dc, old);
    DeleteDC(dc);
    for (int i = 0; i < out->width * out->height; ++i) out->bits[i * 4 + 3] = 255;
    return out;
}

struct Screen {
    CPaintManagerUI pm;
    int scale;

    Screen(const wchar_t* layout, int scalePercent, int language) : scale(scalePercent) {
        pm.SetScale(scalePercent);
        CDialogBuilder builder;
        pm.AttachRoot(builder.Create(layout, &pm));
        pm.SetFontFaceOverride(GetLanguageUiFace(language));
        pm.SetRTL(IsRightToLeftLanguage(language));
        SIZE size = pm.GetWindowInfo().size;
        Resize(size.cx, size.cy);
    }
    void Resize(int cx, int cy) { pm.SetClientSize(SIZE{pm.Scale(cx), pm.Scale(cy)}); }
    CControlUI* Find(const wchar_t* name) { return pm.FindControl(name); }
    void SetText(const wchar_t* name, const std::wstring& text) {
        if (CControlUI* c = Find(name)) c->SetText(text);
    }
    void Show(const wchar_t* name, bool show) {
        if (CControlUI* c = Find(name)) c->SetVisible(show);
    }
    void Select(const wchar_t* tab, int page) {
        if (CControlUI* c = Find(tab))
            if (auto* t = dynamic_cast<CTabLayoutUI*>(c)) t->SelectItem(page);
    }
    bool Save(const std::wstring& path) {
        std::unique_ptr<TImageInfo> image = pm.Render();
        if (!image) return false;
        if (pm.GetWindowInfo().layered) image = OverDesktop(*image);
        return SavePng(*image, path);
    }
};

// Puts the language's texts on the main window as the window logic does.
void ApplyMainTexts(Screen& s, const Texts& texts, int language) {
    for (const auto& t : texts)
        if (s.Find(t.first.c_str())) s.SetText(t.first.c_str(), t.second);
    std::wstring progress = Get(texts, L"install_label");
    if (!progress.empty()) s.SetText(L"install_label", Format(progress, 42.0));
    std::wstring freeSpace = Get(texts, L"space_free");
    if (!freeSpace.empty()) s.SetText(L"space_free", Format(freeSpace, 37.5));
    if (auto* combo = dynamic_cast<CComboUI*>(s.Find(L"language_combox"))) combo->SelectItem(language, false, false);
    // The licence text of the language and a panel as tall as the text.
    CControlUI* licence = s.Find(kLanguages[language].licence);
    if (licence) s.SetText(L"license_text", licence->GetText());
    CControlUI* text = s.Find(L"license_text");
    CControlUI* holder = s.Find(L"license_text_layout");
    if (text && holder) {
        s.pm.UpdateLayout();
        SIZE need = text->EstimateSize(SIZE{text->GetPos().right - text->GetPos().left, 0});
        auto* label = dynamic_cast<CLabelUI*>(text);
        int height = label ? label->GetTextLayout().size.cy : need.cy;
        holder->SetFixedHeight(MulDiv(height, 100, s.scale) + 24);
    }
    // The window keeps one licence link: the old row unless the product asks for the new one.
    s.Show(L"license_link_new", false);
}

void Write(Screen& s, const std::wstring& folder, const char* name) {
    std::wstring path = folder + L"\\" + TextCodec::Utf8ToWide(name) + L".png";
    bool ok = s.Save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", TextCodec::WideToUtf8(path).c_str());
}

void RenderLanguage(int language, const std::wstring& outRoot, int scale) {
    Texts install;
    bool haveFile = LoadPage(kLanguages[language].file, L"install_page", install);
    if (!haveFile && language != 0) return;
    std::wstring folder = outRoot + L"\\" + TextCodec::Utf8ToWide(kLanguages[language].tag);
    CreateDirectoryW(folder.c_str(), nullptr);

    auto main = [&](const char* name, const std::function<void(Screen&)>& setup, int height) {
        Screen s(L"InstallMainWnd.xml", scale, language);
        ApplyMainTexts(s, install, language);
        s.Resize(650, height);
        setup(s);
        Write(s, folder, name);
    };
    main("1-setting", [](Screen&) {}, 360);
    main("2-licence", [](Screen& s) { s.Select(L"set_layout", 0); }, 560);
    main("3-settings", [](Screen& s) { s.Select(L"set_layout", 1); }, 560);
    main("4-running", [language](Screen& s) {
        s.Select(L"main_tablayout", 1);
        // The carousel as the window starts it: frame 1 with its caption.
        s.pm.UpdateLayout();
        if (CControlUI* play = s.Find(L"image_play")) {
            CAnima::Settings settings;
            while (s.pm.GetImageCache().Get(L"skin\\anima\\" + std::to_wstring(settings.frameCount + 1) + L".png"))
                ++settings.frameCount;
            settings.fontFace = GetLanguageFontFace(language);
            settings.uiFace = GetLanguageUiFace(language);
            CAnima anima(nullptr, play, &s.pm, settings);
            anima.HorizontalMoveAnimaInit(L"", L"");
            play->SetBkImage(L"FirstFrame");
        }
        if (auto* bar = dynamic_cast<CProgressUI*>(s.Find(L"install_progress"))) bar->SetValue(42);
    }, 360);
    auto finalPage = [&](Screen& s, bool failed) {
        s.Select(L"page_layout", 1);
        if (CControlUI* back = s.Find(L"backgroudlayout")) back->SetBkImage(L"skin/backgroud_complete.png");
        s.Show(L"text_startshortcut", false);
        s.Show(L"text_fail_retry", failed);
        s.Show(L"text_fail_advice", failed);
        s.Show(L"img_warning", failed);
        std::wstring label = Get(install, failed ? L"retry_btn" : L"start_app");
        if (!label.empty()) s.SetText(L"start_app", label);
        else if (failed) s.SetText(L"start_app", L"Try again");
    };
    main("5-finished", [&](Screen& s) { finalPage(s, false); }, 360);
    main("6-failed", [&](Screen& s) { finalPage(s, true); }, 360);

    // The message boxes as the product fills them (MessageBoxWnd::ApplyKind).
    for (int32_t kind = 0; kind < kMsgTypeCount; ++kind) {
        Screen s(MessageBoxKinds::SkinFileFor(kind).c_str(), scale, language);
        MessageBoxWnd::ApplyKind(s.pm, kind, language, L"E");
        std::string name = std::string("box-") + kBoxNames[kind];
        Write(s, folder, name.c_str());
    }
    Screen hint(L"skin\\transWnd.xml", scale, language);
    Write(hint, folder, "7-launchhint");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: duilib_screens SKIN_ZIP OUT_FOLDER [LANGUAGE_FILTER] [SCALE_PERCENT] [hc]\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::string zip((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (zip.empty() || !CPaintManagerUI::SetResourceZip(zip.data(), zip.size())) {
        std::fprintf(stderr, "cannot read the skin archive %s\n", TextCodec::WideToUtf8(argv[1]).c_str());
        return 1;
    }
    ImageCodec::EnsureGdiplus();
    std::wstring out = argv[2];
    CreateDirectoryW(out.c_str(), nullptr);
    std::wstring filter = argc > 3 ? argv[3] : L"";
    if (filter == L"list") {  // the language tags, one a line
        for (const Language& l : kLanguages) std::printf("%s\n", l.tag);
        return 0;
    }
    int scale = argc > 4 ? _wtoi(argv[4]) : 100;
    // "hc": drawn as with the system's high contrast on, in the system's colours.
    if (argc > 5 && std::wstring(argv[5]) == L"hc") SystemLook::OverrideHighContrast(1);
    for (int language = 0; language < static_cast<int>(std::size(kLanguages)); ++language) {
        std::wstring tag = TextCodec::Utf8ToWide(kLanguages[language].tag);
        // "=tag": that language only; otherwise every language whose tag contains the filter.
        if (!filter.empty() && filter[0] == L'=') {
            if (filter.substr(1) != tag) continue;
        } else if (!filter.empty() && filter != L"all" && tag.find(filter) == std::wstring::npos) {
            continue;
        }
        RenderLanguage(language, out, scale);
    }
    return 0;
}
