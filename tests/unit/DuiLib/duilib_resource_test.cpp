// The skin archive in memory, the markup parser and the control tree built from it.
#include <gtest/gtest.h>

#include <minizip/zip.h>

#include <map>

#include "DuiLib/Core/UIDlgBuilder.h"
#include "DuiLib/Core/UIManager.h"
#include "DuiLib/Core/UIMarkup.h"
#include "DuiLib/Core/UIResourceZip.h"
#include "base/TextCodec.h"
#include "support/skin_archive.h"
#include "support/test_support.h"

namespace {

// Writes the entries into a ZIP file with minizip (deflated) and returns the archive's bytes.
const char* kConfigure =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><VerticalLayout><VerticalLayout name=\"Product_config\">"
    "<Label name=\"Downloader_id\" text=\"486\"/><Label name=\"Software_name\" text=\"Orbala \xC3\x9Cmeno\"/>"
    "</VerticalLayout></VerticalLayout>";

}  // namespace

TEST(ResourceZip, EntriesMatchWithEitherSlashAndAnyCase) {
    std::string bytes = test_support::ZipOf({{"configure/configure.xml", kConfigure}, {"Language/English.xml", "<Lang/>"}});
    DuiLib::CResourceZip zip;
    ASSERT_TRUE(zip.Open(bytes.data(), bytes.size()));
    std::string content;
    for (const wchar_t* name : {L"configure\\configure.xml", L"configure/configure.xml", L"CONFIGURE\\Configure.XML", L"\\configure\\configure.xml"}) {
        content.clear();
        EXPECT_TRUE(zip.ReadEntry(name, content)) << TextCodec::WideToUtf8(name);
        EXPECT_EQ(content, kConfigure);
    }
    EXPECT_TRUE(zip.ReadEntry(L"language\\english.xml", content));
    EXPECT_EQ(content, "<Lang/>");
    EXPECT_FALSE(zip.ReadEntry(L"configure\\missing.xml", content));
    EXPECT_FALSE(zip.ReadEntry(L"configure", content));
}

TEST(ResourceZip, RejectsWhatIsNotAnArchive) {
    DuiLib::CResourceZip zip;
    EXPECT_FALSE(zip.Open(nullptr, 0));
    std::string garbage(4096, 'x');
    EXPECT_FALSE(zip.Open(garbage.data(), garbage.size()));
    std::string bytes = test_support::ZipOf({{"a.xml", "<a/>"}});
    std::string truncated = bytes.substr(0, bytes.size() / 2);
    EXPECT_FALSE(zip.Open(truncated.data(), truncated.size()));
    std::string content;
    EXPECT_FALSE(zip.ReadEntry(L"a.xml", content));
}

TEST(ResourceZip, CorruptedEntryDataIsNotReturned) {
    std::string body(20000, 'a');
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>('a' + (i * 7919) % 26);
    std::string bytes = test_support::ZipOf({{"big.xml", body}});
    // Damage a byte in the middle of the compressed data (after the 30-byte local header and name).
    bytes[30 + 7 + 100] ^= 0x55;
    DuiLib::CResourceZip zip;
    ASSERT_TRUE(zip.Open(bytes.data(), bytes.size()));
    std::string content = "unchanged";
    EXPECT_FALSE(zip.ReadEntry(L"big.xml", content));
    EXPECT_EQ(content, "unchanged");
}

TEST(Markup, KeepsAttributeOrderAndConvertsUtf8) {
    DuiLib::CMarkup markup;
    ASSERT_TRUE(markup.Load("<Window><Label text=\"t\" name=\"n\" x=\"\xE6\x97\xA5\"/></Window>"));
    const DuiLib::CMarkupNode& label = markup.GetRoot()->children.at(0);
    ASSERT_EQ(label.attributes.size(), 3u);
    EXPECT_EQ(label.attributes[0].first, L"text");
    EXPECT_EQ(label.attributes[1].first, L"name");
    EXPECT_EQ(label.GetAttributeValue(L"x"), L"\x65E5");
    EXPECT_FALSE(markup.Load("<Window><Label></Window>"));
    EXPECT_FALSE(markup.IsValid());
    EXPECT_FALSE(markup.GetLastError().empty());
    EXPECT_FALSE(markup.Load(""));
}

TEST(DialogBuilder, IncludedConfigurationIsFoundByName) {
    std::string bytes = test_support::ZipOf({
        {"configure/configure.xml", kConfigure},
        {"main.xml", "<Window><VerticalLayout name=\"root\"><Label name=\"title\" text=\"Hello\"/>"
                     "<Include source=\"configure\\configure.xml\"/><Include source=\"missing.xml\"/></VerticalLayout></Window>"},
        {"loop.xml", "<Window><Include source=\"loop.xml\"/><Label name=\"inner\" text=\"x\"/></Window>"},
    });
    ASSERT_TRUE(DuiLib::CPaintManagerUI::SetResourceZip(bytes.data(), bytes.size()));

    DuiLib::CDialogBuilder builder;
    DuiLib::CPaintManagerUI pm;
    pm.AttachRoot(builder.Create(L"main.xml"));
    ASSERT_NE(pm.GetRoot(), nullptr);
    EXPECT_EQ(pm.GetControlText(L"title"), L"Hello");
    EXPECT_EQ(pm.GetControlText(L"Downloader_id"), L"486");
    EXPECT_EQ(pm.GetControlText(L"Software_name"), L"Orbala \x00DCmeno");
    EXPECT_EQ(pm.FindControl(L"Product_config")->GetClass(), L"VerticalLayout");
    EXPECT_EQ(pm.FindControl(L"nothing"), nullptr);
    EXPECT_EQ(pm.GetControlText(L"nothing"), L"");

    // A file that includes itself stops at the nesting limit instead of recursing for ever.
    DuiLib::CPaintManagerUI loop;
    loop.AttachRoot(builder.Create(L"loop.xml"));
    EXPECT_EQ(loop.GetControlText(L"inner"), L"x");

    EXPECT_EQ(builder.Create(L"absent.xml"), nullptr);
    DuiLib::CPaintManagerUI::SetResourceZip(nullptr, 0);
}

TEST(ControlTree, StateAndAttributes) {
    DuiLib::CMarkup markup;
    ASSERT_TRUE(markup.Load("<Window><Button name=\"ok\" text=\"OK\" visible=\"false\" enabled=\"false\" selected=\"true\" pos=\"1,2\"/></Window>"));
    DuiLib::CDialogBuilder builder;
    DuiLib::CPaintManagerUI pm;
    pm.AttachRoot(builder.Create(markup));
    DuiLib::CControlUI* ok = pm.FindControl(L"ok");
    ASSERT_NE(ok, nullptr);
    EXPECT_FALSE(ok->IsVisible());
    EXPECT_FALSE(ok->IsEnabled());
    EXPECT_TRUE(ok->IsSelected());
    EXPECT_EQ(ok->GetAttribute(L"pos"), L"1,2");
    EXPECT_EQ(ok->GetParent(), pm.GetRoot());
    ok->SetText(L"Install");
    EXPECT_EQ(pm.GetControlText(L"ok"), L"Install");
}
