// The skin archive in memory, the markup parser and the control tree built from it.
#include <gtest/gtest.h>

#include <minizip/zip.h>

#include <cstdint>
#include <functional>
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

namespace {
uint32_t Le32(const std::string& b, size_t at) {
    return static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8 | static_cast<uint8_t>(b[at + 2]) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3])) << 24;
}
void SetLe32(std::string& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
}  // namespace

// A damaged skin: size fields out of reason and entries cut short are read as failures, with the
// entry named, and never as an allocation that throws or a short text taken for the whole.
TEST(ResourceZip, DamagedEntriesFailToReadAndVerify) {
    std::string body(20000, 'a');
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>('a' + (i * 7919) % 26);
    const std::string intact = test_support::ZipOf({{"layout.xml", body}});
    ASSERT_FALSE(intact.empty());
    const size_t central = intact.find(std::string("PK\x01\x02", 4));
    const size_t end = intact.find(std::string("PK\x05\x06", 4));
    ASSERT_NE(central, std::string::npos);
    ASSERT_NE(end, std::string::npos);
    const uint32_t compressed = Le32(intact, central + 20);
    struct Case {
        const char* damage;
        std::function<void(std::string&)> apply;
    } cases[] = {
        {"absurd size in the directory", [&](std::string& b) { SetLe32(b, central + 24, 0xFFFFFFF0u); }},
        {"absurd size in both headers", [&](std::string& b) { SetLe32(b, central + 24, 0xFFFFFFF0u); SetLe32(b, 22, 0xFFFFFFF0u); }},
        {"absurd compressed size", [&](std::string& b) { SetLe32(b, central + 20, 0xFFFFFFF0u); SetLe32(b, 18, 0xFFFFFFF0u); }},
        {"size larger than the data", [&](std::string& b) { SetLe32(b, central + 24, 30000); SetLe32(b, 22, 30000); }},
        {"size smaller than the data", [&](std::string& b) { SetLe32(b, central + 24, 100); SetLe32(b, 22, 100); }},
        {"entry cut short", [&](std::string& b) {
             // Half the compressed data is gone; the directory behind it moves up.
             size_t cut = compressed / 2;
             b.erase(30 + 10 + cut, cut);
             SetLe32(b, end - cut + 16, Le32(b, end - cut + 16) - static_cast<uint32_t>(cut));
         }},
    };
    for (const Case& c : cases) {
        std::string damaged = intact;
        c.apply(damaged);
        DuiLib::CResourceZip zip;
        if (!zip.Open(damaged.data(), damaged.size())) continue;  // refused whole: as good
        std::string content = "unchanged";
        bool read = true;
        EXPECT_NO_THROW(read = zip.ReadEntry(L"layout.xml", content)) << c.damage;
        EXPECT_FALSE(read) << c.damage;
        EXPECT_EQ(content, "unchanged") << c.damage;
        std::string problem;
        EXPECT_FALSE(zip.Verify(&problem)) << c.damage;
        EXPECT_EQ(problem.rfind("layout.xml: ", 0), 0u) << c.damage << ": " << problem;
    }
    DuiLib::CResourceZip zip;
    ASSERT_TRUE(zip.Open(intact.data(), intact.size()));
    std::string problem;
    EXPECT_TRUE(zip.Verify(&problem)) << problem;
    // The skin the build ships reads whole.
    ASSERT_TRUE(zip.Open(test_support::SourceSkinArchive().data(), test_support::SourceSkinArchive().size()));
    EXPECT_TRUE(zip.Verify(&problem)) << problem;
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
