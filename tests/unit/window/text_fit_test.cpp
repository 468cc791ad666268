// Every text of every page of the installer window and of every message box, in all 21
// languages at 100 % and 150 % scale, fits where the layout puts it: a one-line text is no wider
// and no taller than its box, a wrapping text wraps inside its box, and the box itself lies inside
// what its parents show. Texts are measured the way they are drawn (the toolkit's Uniscribe
// layout in the language's face at the scale); the texts are put on the layouts by the same
// functions the window and the message box use. A text that does not fit fails with its language,
// scale, page and control, and how much room it needs.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <sstream>
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
#include "base/LanguageTables.h"
#include "base/TextCodec.h"
#include "support/skin_archive.h"
#include "window/MessageBoxKinds.h"
#include "window/MessageBoxWnd.h"
#include "window/WindowLanguage.h"
#include "window/WindowTexts.h"

using namespace DuiLib;

namespace {

std::string N(const std::wstring& w) { return TextCodec::WideToUtf8(w); }

// A layout without a window at a scale and a client size (logical pixels).
struct Page {
    CPaintManagerUI pm;
    explicit Page(const wchar_t* layout, int scale) {
        pm.SetScale(scale);
        CDialogBuilder builder;
        pm.AttachRoot(builder.Create(layout, &pm));
    }
    void Size(int cx, int cy) { pm.SetClientSize(SIZE{pm.Scale(cx), pm.Scale(cy)}); }
    CControlUI* Find(const wchar_t* name) { return pm.FindControl(name); }
    void Select(const wchar_t* tab, int page) {
        if (auto* t = dynamic_cast<CTabLayoutUI*>(Find(tab))) t->SelectItem(page);
    }
    void Show(const wchar_t* name, bool show) {
        if (CControlUI* c = Find(name)) c->SetVisible(show);
    }
    void SetText(const wchar_t* name, const std::wstring& text) {
        if (CControlUI* c = Find(name)) c->SetText(text);
    }
};

bool ShownWithParents(CControlUI* control) {
    for (CControlUI* c = control; c; c = c->GetParent())
        if (!c->IsVisible()) return false;
    return true;
}

RECT Deflate(const RECT& rc, const RECT& by) { return RECT{rc.left + by.left, rc.top + by.top, rc.right - by.right, rc.bottom - by.bottom}; }
int Width(const RECT& r) { return r.right - r.left; }
int Height(const RECT& r) { return r.bottom - r.top; }

// Checks every shown text of the page; each problem is one line of the result.
std::vector<std::string> Misfits(Page& page, const std::string& where) {
    constexpr int kSlack = 1;  // rounding of the layout
    std::vector<std::string> problems;
    CPaintManagerUI& pm = page.pm;
    pm.UpdateLayout();
    SIZE client = pm.GetClientSize();
    HDC dc = pm.GetPaintDC();
    auto report = [&](CControlUI* c, const std::string& what) {
        problems.push_back(where + " / " + N(c->GetName().empty() ? c->GetClass() : c->GetName()) + ": " + what +
                           " [" + N(c->GetText()).substr(0, 80) + "]");
    };
    // The area of the window that shows the control: the client area cut by every parent, up
    // to a scrolling parent (whose content may be taller than itself).
    auto visibleArea = [&](CControlUI* c) {
        RECT area{0, 0, client.cx, client.cy};
        for (CControlUI* p = c->GetParent(); p; p = p->GetParent()) {
            auto* container = dynamic_cast<CContainerUI*>(p);
            if (container && container->HasScrollBar()) return RECT{-1000000, -1000000, 1000000, 1000000};
            RECT r = p->GetPos();
            area = RECT{std::max(area.left, r.left), std::max(area.top, r.top), std::min(area.right, r.right),
                        std::min(area.bottom, r.bottom)};
        }
        return area;
    };
    auto check = [&](CControlUI* c, const std::wstring& text, int font, bool html, UINT style, const RECT& box) {
        bool wrap = (style & DT_WORDBREAK) && !(style & DT_SINGLELINE);
        UINT measure = (style & ~(DT_END_ELLIPSIS | DT_VCENTER | DT_BOTTOM)) | (wrap ? 0 : DT_SINGLELINE);
        TTextLayout layout = CRenderEngine::LayoutText(dc, &pm, ParseRichText(text, html), font,
                                                       wrap ? std::max<int>(1, Width(box)) : 0x3FFFFFFF, measure);
        std::ostringstream need;
        need << "needs " << layout.size.cx << "x" << layout.size.cy << ", has " << Width(box) << "x" << Height(box);
        if (layout.size.cx > Width(box) + kSlack) report(c, (wrap ? "a word is wider than its box, " : "too wide, ") + need.str());
        else if (layout.size.cy > Height(box) + kSlack) report(c, (wrap ? "wraps below its box, " : "too tall, ") + need.str());
        RECT area = visibleArea(c);
        // Where the text itself lands in its box, by its alignment.
        int w = std::min<int>(Width(box), layout.size.cx), h = std::min<int>(Height(box), layout.size.cy);
        bool right = (style & DT_RIGHT) || (pm.IsRTL() && !(style & DT_CENTER));
        int x = (style & DT_CENTER) ? box.left + (Width(box) - w) / 2 : right ? box.right - w : box.left;
        int y = (style & DT_VCENTER) ? box.top + (Height(box) - h) / 2 : (style & DT_BOTTOM) ? box.bottom - h : box.top;
        RECT shown{x, y, x + w, y + h};
        if (shown.left < area.left - kSlack || shown.right > area.right + kSlack || shown.top < area.top - kSlack ||
            shown.bottom > area.bottom + kSlack) {
            std::ostringstream out;
            out << "drawn outside what shows it: text at " << shown.left << "," << shown.top << "," << shown.right << ","
                << shown.bottom << ", shown area " << area.left << "," << area.top << "," << area.right << "," << area.bottom;
            report(c, out.str());
        }
    };
    pm.GetRoot()->ForEach([&](CControlUI* c) {
        if (!ShownWithParents(c)) return;
        // A combo's items are drawn in its drop-down, one row each, never in place: each must fit
        // its row (the drop-down's width less its border, scroll bar and the items' padding).
        if (dynamic_cast<CComboUI*>(c->GetParent())) return;
        if (auto* combo = dynamic_cast<CComboUI*>(c)) {
            int width = std::max<int>(Width(c->GetPos()), pm.Scale(combo->GetDropBoxSize().cx));
            RECT pad = c->Scale(combo->GetItemTextPadding());
            int rowHeight = pm.Scale(combo->GetItemHeight());
            RECT row{0, 0, width - pm.Scale(2) - pm.Scale(10), rowHeight};
            RECT box = Deflate(row, pad);
            for (size_t i = 0; i < combo->GetCount(); ++i) {
                CControlUI* item = combo->GetItemAt(i);
                if (!item->IsVisible() || item->GetText().empty()) continue;
                TTextLayout layout = CRenderEngine::LayoutText(dc, &pm, ParseRichText(item->GetText(), false), combo->GetItemFont(),
                                                               0x3FFFFFFF, DT_SINGLELINE);
                if (layout.size.cx > Width(box) + kSlack || layout.size.cy > Height(box) + kSlack) {
                    std::ostringstream need;
                    need << "drop-down item too large, needs " << layout.size.cx << "x" << layout.size.cy << ", has " << Width(box)
                         << "x" << Height(box);
                    problems.push_back(where + " / " + N(c->GetName()) + " item " + std::to_string(i) + ": " + need.str() + " [" +
                                       N(item->GetText()) + "]");
                }
            }
        }
        if (auto* label = dynamic_cast<CLabelUI*>(c)) {
            if (c->GetText().empty()) return;
            RECT box = Deflate(c->GetPos(), c->Scale(label->GetTextPadding()));
            check(c, c->GetText(), label->GetFont(), label->IsShowHtml(), label->GetTextStyle(), box);
        } else if (auto* combo = dynamic_cast<CComboUI*>(c)) {
            if (combo->GetText().empty()) return;
            RECT box = Deflate(c->GetPos(), c->Scale(UI::ParseRect(c->GetAttribute(L"textpadding"))));
            check(c, combo->GetText(), UI::ParseInt(c->GetAttribute(L"font"), -1), false, DT_SINGLELINE, box);
        }
    });
    return problems;
}

// The main window's layout in a language, as the window shows it at start.
std::unique_ptr<Page> MainWindow(int32_t language, int scale, bool newLicence, WindowLanguage::InstallPageFormats& formats) {
    auto page = std::make_unique<Page>(L"InstallMainWnd.xml", scale);
    page->Size(650, 560);
    WindowLanguage::ApplyLanguageFace(page->pm, language);
    EXPECT_TRUE(WindowLanguage::ApplyInstallPage(page->pm, language, formats)) << language;
    WindowLanguage::ApplyLicence(page->pm, language, 61, newLicence);
    if (auto* combo = dynamic_cast<CComboUI*>(page->Find(L"language_combox"))) combo->SelectItem(language, false, false);
    // Exactly one licence link stays in the licence row.
    page->Show(newLicence ? L"license_link" : L"license_link_new", false);
    // The texts the window fills in: the widest progress and a large free space.
    page->SetText(L"install_label", WindowTexts::FormatNumber(formats.progress, 100.0));
    page->SetText(L"space_free", WindowTexts::FormatNumber(formats.freeSpace, 9999.9));
    page->SetText(L"space_need", WindowTexts::FormatText(formats.needSpace, L""));
    return page;
}

std::wstring InstallText(const wchar_t* key, int32_t language) {
    return WindowLanguage::GetLanguageText(L"install_page", key, language);
}

// The states of the main window a user sees, each set completely so one layout serves them all.
struct Scenario {
    const char* name;
    int height;
    int mainPage, panelPage, settingsPage;
    bool failed;
    bool newLicence;
};
const Scenario kMainScenarios[] = {
    {"setting", 360, 0, 0, 0, false, false},
    {"setting (new licence row)", 360, 0, 0, 0, false, true},
    {"licence", 560, 0, 0, 0, false, false},
    {"settings", 560, 0, 0, 1, false, false},
    {"running", 360, 1, 1, 0, false, false},
    {"finished", 360, 0, 1, 0, false, false},
    {"failed", 360, 0, 1, 0, true, false},
};

void SetScenario(Page& p, const Scenario& s, int32_t language) {
    p.Select(L"main_tablayout", s.mainPage);
    p.Select(L"page_layout", s.panelPage);
    p.Select(L"set_layout", s.settingsPage);
    p.Show(L"license_link", !s.newLicence);
    p.Show(L"license_link_new", s.newLicence);
    for (const wchar_t* name : {L"text_fail_retry", L"text_fail_advice", L"img_warning"}) p.Show(name, s.failed);
    // The final pages hide the shortcut hint; "Start" or "Try again".
    p.Show(L"text_startshortcut", s.panelPage == 0);
    p.SetText(L"start_app", InstallText(s.failed ? L"retry_btn" : L"start_app", language));
    p.Size(650, s.height);
}

class TextFitTest : public ::testing::TestWithParam<int> {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(test_support::UseSourceSkin()); }
};

std::string Join(const std::vector<std::string>& lines) {
    std::string all;
    for (const auto& l : lines) all += "  " + l + "\n";
    return all;
}

}  // namespace

TEST_P(TextFitTest, MainWindowPages) {
    const int scale = GetParam();
    std::vector<std::string> problems;
    for (int32_t language = 0; language < kLanguageCount; ++language) {
        WindowLanguage::InstallPageFormats formats;
        std::unique_ptr<Page> page = MainWindow(language, scale, false, formats);
        for (const Scenario& scenario : kMainScenarios) {
            SetScenario(*page, scenario, language);
            std::string where = GetLanguageEventName(language) + " " + std::to_string(scale) + "% " + scenario.name;
            std::vector<std::string> found = Misfits(*page, where);
            problems.insert(problems.end(), found.begin(), found.end());
        }
    }
    EXPECT_TRUE(problems.empty()) << problems.size() << " texts do not fit:\n" << Join(problems);
}

TEST_P(TextFitTest, MessageBoxes) {
    const int scale = GetParam();
    std::vector<std::string> problems;
    for (int32_t language = 0; language < kLanguageCount; ++language) {
        for (int32_t kind = 0; kind < kMsgTypeCount; ++kind) {
            Page page(MessageBoxKinds::SkinFileFor(kind).c_str(), scale);
            SIZE size = page.pm.GetWindowInfo().size;
            page.Size(size.cx, size.cy);
            MessageBoxWnd::ApplyKind(page.pm, kind, language, L"E");
            std::string where = GetLanguageEventName(language) + " " + std::to_string(scale) + "% message box " + std::to_string(kind);
            std::vector<std::string> found = Misfits(page, where);
            problems.insert(problems.end(), found.begin(), found.end());
        }
    }
    EXPECT_TRUE(problems.empty()) << problems.size() << " texts do not fit:\n" << Join(problems);
}

// The check itself: a text made too long for its box is found, with where it is.
TEST_P(TextFitTest, FindsATextThatDoesNotFit) {
    WindowLanguage::InstallPageFormats formats;
    std::unique_ptr<Page> page = MainWindow(English, GetParam(), false, formats);
    SetScenario(*page, kMainScenarios[0], English);
    page->SetText(L"install_btn", L"Install this product now, with every option, into the folder you chose");
    page->SetText(L"start_app", std::wstring(400, L'x'));
    std::vector<std::string> found = Misfits(*page, "probe");
    ASSERT_EQ(found.size(), 1u) << Join(found);
    EXPECT_NE(found[0].find("probe / install_btn: too wide"), std::string::npos) << found[0];
    SetScenario(*page, kMainScenarios[6], English);
    std::wstring paragraph;
    for (int i = 0; i < 200; ++i) paragraph += L"word ";
    page->SetText(L"text_fail_advice", paragraph);
    found = Misfits(*page, "probe");
    bool advice = false, start = false;
    for (const auto& f : found) {
        advice = advice || f.find("text_fail_advice") != std::string::npos;
        start = start || f.find("start_app") != std::string::npos;
    }
    EXPECT_TRUE(advice) << Join(found);
    EXPECT_TRUE(start) << Join(found);
    // A language name too long for the drop-down's row.
    page->SetText(L"install_btn", InstallText(L"install_btn", English));
    SetScenario(*page, kMainScenarios[3], English);
    auto* combo = dynamic_cast<CComboUI*>(page->Find(L"language_combox"));
    ASSERT_NE(combo, nullptr);
    ASSERT_GT(combo->GetCount(), 2u);
    combo->GetItemAt(2)->SetText(L"A language whose own name is far longer than the list is wide");
    found = Misfits(*page, "probe");
    ASSERT_EQ(found.size(), 1u) << Join(found);
    EXPECT_NE(found[0].find("probe / language_combox item 2: drop-down item too large"), std::string::npos) << found[0];
}

// Right-to-left texts are measured as well: an Arabic button text too long for its button is found,
// and the Arabic page's own texts fit.
TEST_P(TextFitTest, FindsAnArabicTextThatDoesNotFit) {
    WindowLanguage::InstallPageFormats formats;
    std::unique_ptr<Page> page = MainWindow(Arabic, GetParam(), false, formats);
    SetScenario(*page, kMainScenarios[0], Arabic);
    ASSERT_TRUE(Misfits(*page, "arabic").empty()) << Join(Misfits(*page, "arabic"));
    std::wstring longText;
    for (int i = 0; i < 6; ++i) longText += L"\x062B\x0628\x0651\x062A \x0627\x0644\x0628\x0631\x0646\x0627\x0645\x062C ";
    page->SetText(L"install_btn", longText);
    std::vector<std::string> found = Misfits(*page, "probe");
    ASSERT_EQ(found.size(), 1u) << Join(found);
    EXPECT_NE(found[0].find("probe / install_btn: too wide"), std::string::npos) << found[0];
}

INSTANTIATE_TEST_SUITE_P(Scales, TextFitTest, ::testing::Values(100, 150),
                         [](const ::testing::TestParamInfo<int>& info) { return "Scale" + std::to_string(info.param); });
