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
#include "DuiLib/Layout/UIContainer.h"
#include "base/LanguageFaces.h"
#include "base/LanguageTables.h"
#include "base/TextCodec.h"
#include "window/CAnima.h"

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

// What each message box kind shows: icon, description, question, buttons (second hidden when
// its key is null and hide is true).
struct BoxKind {
    const char* name;
    const wchar_t* icon;  // null: the layout's own
    const wchar_t* describe;
    const wchar_t* question;
    const wchar_t* yes;
    const wchar_t* no;
    bool noShown;
};
const BoxKind kBoxes[] = {
    {"0-replace", L"skin\\message_help.png", L"ReplaceDesText", L"ReplaceQueText", L"ReplaceText", L"CancelText", true},
    {"1-plain", nullptr, nullptr, nullptr, nullptr, nullptr, true},
    {"2-cancel", L"skin\\message_help.png", L"CancelDesText", L"CancelQueText", L"YesText", L"NoText", true},
    {"3-appexist", L"skin\\message_help.png", L"AppExistDesText", L"AppExistQueText", L"OkButtonText", L"NoText", false},
    {"4-patherror", L"skin\\message_exclamation.png", L"PathErrorDesText", nullptr, L"OkButtonText", nullptr, false},
    {"5-plaindown", nullptr, nullptr, nullptr, nullptr, nullptr, false},
    {"6-installtimeout", L"skin\\message_exclamation.png", L"InstallRunTimeOutDesText", L"InstallRunTimeOutQueText", L"ConfirmText", L"CancelText", false},
    {"7-md5fail", L"skin\\message_exclamation.png", L"MD5FailDesText", L"MD5FailQueText", L"ConfirmText", L"CancelText", false},
    {"8-urlfail", L"skin\\message_exclamation.png", L"UrlFailDexText", L"UrlFailQueText", L"ConfirmText", L"CancelText", false},
    {"9-internetfail", L"skin\\message_exclamation.png", L"InternetFailDesText", L"InternetFailQueText", L"ConfirmText", L"CancelText", false},
    {"10-internettimeout", L"skin\\message_exclamation.png", L"InternetTimeoutDesText", L"InternetTimeoutQueText", L"ConfirmText", L"CancelText", false},
    {"11-noenoughspace", L"skin\\message_exclamation.png", L"NoEnoughSpaceDesText", nullptr, L"OkButtonText", nullptr, false},
    {"12-clickshortcut", L"skin\\message_exclamation.png", L"ClickShortcutToLaunchText", nullptr, L"ConfirmText", nullptr, false},
    {"13-notsupportsystem", L"skin\\message_exclamation.png", L"NotSupportSystemDesText", nullptr, L"OkButtonText", nullptr, false},
    {"14-agree", L"skin\\message_exclamation.png", L"AgreeDesText", nullptr, L"AgreeInstallText", L"NotAgreeText", true},
    {"15-suggestssd", L"skin\\message_exclamation.png", L"SuggestSSDText", nullptr, L"AcceptText", L"RejectText", true},
};

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
    Texts install, messages;
    bool haveFile = LoadPage(kLanguages[language].file, L"install_page", install);
    LoadPage(kLanguages[language].file, L"message_page", messages);
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

    for (const BoxKind& kind : kBoxes) {
        bool down = std::string(kind.name) == "5-plaindown";
        Screen s(down ? L"MessageBox_down.xml" : L"MessageBox.xml", scale, language);
        if (!down && !messages.empty()) {
            if (kind.icon)
                if (CControlUI* icon = s.Find(L"iconimage")) icon->SetBkImage(kind.icon);
            std::wstring describe = kind.describe ? Get(messages, kind.describe) : std::wstring();
            size_t marker = describe.find(L"**1**");
            if (marker != std::wstring::npos) describe.replace(marker, 5, L"E");
            s.SetText(L"msg_describe", describe);
            s.SetText(L"msg_question", kind.question ? Get(messages, kind.question) : std::wstring());
            s.SetText(L"btn_yes", kind.yes ? Get(messages, kind.yes) : std::wstring());
            s.SetText(L"btn_no", kind.no ? Get(messages, kind.no) : std::wstring());
            s.Show(L"btn_no", kind.noShown);
        }
        std::string name = std::string("box-") + kind.name;
        Write(s, folder, name.c_str());
    }
    Screen hint(L"skin\\transWnd.xml", scale, language);
    Write(hint, folder, "7-launchhint");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: duilib_screens SKIN_ZIP OUT_FOLDER [LANGUAGE_FILTER] [SCALE_PERCENT]\n");
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
    int scale = argc > 4 ? _wtoi(argv[4]) : 100;
    for (int language = 0; language < static_cast<int>(std::size(kLanguages)); ++language) {
        std::wstring tag = TextCodec::Utf8ToWide(kLanguages[language].tag);
        if (!filter.empty() && filter != L"all" && tag.find(filter) == std::wstring::npos) continue;
        RenderLanguage(language, out, scale);
    }
    return 0;
}
