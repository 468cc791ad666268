// The language files of the skin, all 21 against English: each parses into the two pages of
// labels, holds English's keys, keeps English's markup tags, format specifiers and placeholders
// and the product name, and is really translated; English holds exactly the texts the window is
// designed with. Also the licence texts of License.xml.
#include <gtest/gtest.h>

#include <tinyxml2.h>

#include <map>
#include <regex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "support/test_support.h"

namespace {

// The files in language-value order (0 English ... 20 Vietnamese), as the window loads them.
const char* const kLanguageFiles[] = {
    "language_english.xml",    "language_japanese.xml",  "language_chinese.xml",    "language_spanish.xml",
    "language_german.xml",     "language_french.xml",    "language_russian.xml",    "language_portuguese.xml",
    "language_arabic.xml",     "language_italiano.xml",  "language_chinesetrad.xml", "language_korean.xml",
    "language_nederland.xml",  "language_indonesian.xml", "language_turkish.xml",   "language_hindi.xml",
    "language_thai.xml",       "language_malay.xml",     "language_swedish.xml",    "language_czech.xml",
    "language_vietnamese.xml",
};
const char* const kPages[] = {"install_page", "message_page"};

struct Quoted {
    const char* page;
    const char* key;
    const char* text;
};

// Every English text except the carousel captions, byte for byte.
const Quoted kEnglish[] = {
    {"install_page", "select_language_text", "Select Language : "},
    {"install_page", "install_btn", "Install"},
    {"install_page", "install_setting", "Install Setting"},
    {"install_page", "license_link", "{f 1}{c #000000}I've read and agreed{/c}{/f} {f 1}{a}{u}{c #8372FF}Orbala License Agreement{/c}{/u}{/a}{/f}"},
    {"install_page", "license_link_new", "{f 1}{c #000001}I've read and agreed{/c}{/f} {f 1}{a}{u}{c #8372FF}Privacy Policy{/c}{/u}{/a}{/f}{f 1}{c #000001} and {/c}{/f}{f 1}{a}{u}{c #8372FF}User License Agreement{/c}{/u}{/a}{/f}."},
    {"install_page", "browser_btn", "Browse"},
    {"install_page", "space_need", "Space required : 2.3M"},
    {"install_page", "space_free", "Space available : %.1fGB"},
    {"install_page", "install_label", "{f 4}{c #000000}Installing, please wait...{/c} {/f}{f 0}{c #8372FF}%0.f%%{/c}{/f}{f 4}{c #000000} completed.{/c}{/f}"},
    {"install_page", "install_path_text", "Installation Path:"},
    {"install_page", "install_minbtn", "Hide"},
    {"install_page", "install_closebtn", "Close"},
    {"install_page", "finish_label", "Orbala Lumeno has been installed successfully on your computer!"},
    {"install_page", "start_app", "Start"},
    {"install_page", "retry_btn", "Try again"},
    {"install_page", "agree_improvement", "{f 1}Agreed to participate in the customer experience improvement plan!{/f}"},
    {"install_page", "extra_text", "{f 12}To avoid further data corruption, please do not install the program on the drive where your data is lost.{/f}"},
    {"install_page", "text_fail_retry", "{f 18}Installation failed, please try again.{/f}"},
    {"install_page", "text_fail_advice", "{f 19}{c #555555}The program installation failed, you can try to reinstall it again. Or directly download the {/c}{/f}{f 19}{a}{u}{c #8372FF}installation package file{/c}{/u}{/a}{/f}{f 19}{c #555555} and install it.{/c}{/f}"},
    {"install_page", "anima_text_6", ""},
    {"install_page", "anima_text_7", ""},
    {"install_page", "anima_text_8", ""},
    {"install_page", "anima_text_9", ""},
    {"install_page", "anima_text_10", ""},
    {"message_page", "ReplaceDesText", "{f 1}You have already installed Orbala Lumeno on your computer.{/c}{/f}"},
    {"message_page", "ReplaceQueText", "Do you want to replace it?"},
    {"message_page", "ReplaceText", "Replace"},
    {"message_page", "CancelText", "Cancel"},
    {"message_page", "CancelDesText", "{f 1}Are you sure to cancel installation?{/c}{/f}"},
    {"message_page", "CancelQueText", ""},
    {"message_page", "YesText", "Yes"},
    {"message_page", "NoText", "No"},
    // With a full-width comma after "re-install it".
    {"message_page", "AppExistDesText", "{f 1}Orbala Lumeno is running now. If you want to re-install it\xEF\xBC\x8C" " please close it firstly!{/c}{/f}"},
    {"message_page", "AppExistQueText", ""},
    {"message_page", "OkButtonText", "OK"},
    {"message_page", "ConfirmText", "Confirm"},
    {"message_page", "PathErrorDesText", "{f 1}The installation path you have selected is invalid. Please choose again!{/c}{/f}"},
    {"message_page", "InstallRunTimeOutDesText", "{f 1}It takes more time than expected to install it. As the installation file may be corrupt or missing, please install it  again!{/c}{/f}"},
    {"message_page", "InstallRunTimeOutQueText", ""},
    {"message_page", "MD5FailDesText", "{f 1}Failed to verify MD5, please install it again{/c}{/f}"},
    {"message_page", "MD5FailQueText", ""},
    {"message_page", "UrlFailDexText", "{f 1}Failed to connect to the server, please install it again{/c}{/f}"},
    {"message_page", "UrlFailQueText", ""},
    {"message_page", "InternetFailDesText", "{f 1}Your network is disconnected. Please check to see if the network is connected properly. {/c}{/f}"},
    {"message_page", "InternetFailQueText", ""},
    {"message_page", "InternetTimeoutDesText", "{f 1}Your download has been interrupted. Please check to see if the network is connected properly. {/c}{/f}"},
    {"message_page", "InternetTimeoutQueText", ""},
    {"message_page", "NoEnoughSpaceDesText", "{f 1}Insufficient disk space! Please change the storage path.{/c}{/f}"},
    {"message_page", "ClickShortcutToLaunchText", "After the program is installed, please click the Orbala Lumeno shortcut on the desktop to launch the program."},
    {"message_page", "NotSupportSystemDesText", "{f 1}Only compatible with 64-bit operating systems!{/c}{/f}"},
    {"message_page", "AgreeDesText", "To protect your interests and rights, please read and agree to the license agreement"},
    {"message_page", "AgreeInstallText", "Agree and Install"},
    {"message_page", "NotAgreeText", "Disagree"},
    {"message_page", "SuggestSSDText", "It is detected that the currently selected installation directory is on the mechanical hard disk. It is recommended to change the installation directory to the solid state drive (**1** drive) to improve software performance."},
    {"message_page", "AcceptText", "OK"},
    {"message_page", "RejectText", "No"},
};

// The carousel captions: free texts in English, one "{n}" line break each.
const char* const kCaptionKeys[] = {"anima_text_1", "anima_text_2", "anima_text_3", "anima_text_4", "anima_text_5"};

// Texts that are rightly the same as English in some languages: the word on a button is "OK" or
// "No" there too. Keep this list short; an entry that no longer applies fails the test.
const std::map<std::string, std::set<std::string>> kSameAsEnglish = {
    {"OkButtonText", {"japanese", "german", "french", "portuguese", "italiano", "nederland", "indonesian", "malay", "swedish", "czech", "vietnamese"}},
    {"AcceptText", {"japanese", "german", "french", "portuguese", "italiano", "nederland", "indonesian", "malay", "swedish", "czech", "vietnamese"}},
    {"NoText", {"spanish", "italiano"}},
    {"RejectText", {"spanish", "italiano"}},
};

using Page = std::map<std::string, std::string>;  // key -> text

// One language file as the window reads it: the language container and its pages of labels.
struct LanguageFile {
    std::string name;       // "language_english.xml"
    std::string language;   // "english": the file name without "language_" and ".xml"
    std::string container;  // name of the root's language container
    std::map<std::string, Page> pages;
    std::vector<std::string> problems;  // structure faults, each naming its place
};

LanguageFile Load(const std::string& fileName) {
    LanguageFile file;
    file.name = fileName;
    file.language = fileName.substr(9, fileName.size() - 9 - 4);
    std::string xml = test_support::ReadFile(test_support::SourcePath("skin/language/" + fileName));
    tinyxml2::XMLDocument doc;
    if (xml.empty() || doc.Parse(xml.data(), xml.size()) != tinyxml2::XML_SUCCESS) {
        file.problems.push_back(xml.empty() ? "missing or empty" : std::string("does not parse: ") + doc.ErrorStr());
        return file;
    }
    const tinyxml2::XMLElement* root = doc.RootElement();
    const tinyxml2::XMLElement* language = root->FirstChildElement();
    if (language == nullptr || language->NextSiblingElement() != nullptr) {
        file.problems.push_back("the root must hold exactly one language container");
        if (language == nullptr) return file;
    }
    file.container = language->Attribute("name") ? language->Attribute("name") : "";
    for (const tinyxml2::XMLElement* page = language->FirstChildElement(); page; page = page->NextSiblingElement()) {
        std::string pageName = page->Attribute("name") ? page->Attribute("name") : "";
        if (file.pages.count(pageName)) file.problems.push_back("page \"" + pageName + "\" twice");
        Page& labels = file.pages[pageName];
        for (const tinyxml2::XMLElement* label = page->FirstChildElement(); label; label = label->NextSiblingElement()) {
            const char* key = label->Attribute("name");
            const char* text = label->Attribute("text");
            if (std::string(label->Name()) != "Label" || key == nullptr || text == nullptr) {
                file.problems.push_back(pageName + ": every entry must be a Label with name and text");
                continue;
            }
            if (!labels.emplace(key, text).second) file.problems.push_back(pageName + "/" + key + " twice");
        }
    }
    return file;
}

const std::vector<LanguageFile>& AllFiles() {
    static const std::vector<LanguageFile> files = [] {
        std::vector<LanguageFile> loaded;
        for (const char* name : kLanguageFiles) loaded.push_back(Load(name));
        return loaded;
    }();
    return files;
}

const LanguageFile& English() { return AllFiles()[0]; }

// The markup tags of a text in order ("{f 1}", "{/c}", ...). A brace that does not open a
// well-formed tag, or closes none, is reported in `error`.
std::vector<std::string> Tags(const std::string& text, std::string& error) {
    static const std::regex tag("\\{/?[a-z]+( [^{}]+)?\\}");
    std::vector<std::string> tags;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '}') {
            error = "a '}' that closes no tag";
            return tags;
        }
        if (text[i] != '{') continue;
        size_t end = text.find('}', i);
        std::string candidate = end == std::string::npos ? text.substr(i) : text.substr(i, end - i + 1);
        if (end == std::string::npos || !std::regex_match(candidate, tag)) {
            error = "malformed tag " + candidate.substr(0, 20);
            return tags;
        }
        tags.push_back(candidate);
        i = end;
    }
    return tags;
}

// The tag kind: "f" for "{f 1}" and "{/f}".
std::string Kind(const std::string& tag) {
    size_t start = tag[1] == '/' ? 2 : 1;
    return tag.substr(start, tag.find_first_of(" }", start) - start);
}

// Checks that the tags nest: every opened font, colour, link, underline, bold, italic, strike or
// highlight is closed, innermost first. A closer whose kind is not open at all is tolerated: the
// English message texts end in "{/c}{/f}" after opening only the font, and the renderer drops such
// a closer; that the other languages have the same closers is checked against English separately.
std::string NestingError(const std::vector<std::string>& tags) {
    static const std::set<std::string> paired = {"f", "c", "a", "u", "b", "i", "s", "h"};
    std::vector<std::string> open;
    for (const std::string& tag : tags) {
        std::string kind = Kind(tag);
        if (!paired.count(kind)) continue;  // {n}, {x 4}, {p}: stand alone
        if (tag[1] != '/') {
            open.push_back(kind);
        } else if (!open.empty() && open.back() == kind) {
            open.pop_back();
        } else {
            for (const std::string& o : open)
                if (o == kind) return tag + " closes across an open {" + open.back() + "}";
        }
    }
    return open.empty() ? std::string() : "{" + open.back() + "} is never closed";
}

// The printf conversions of a text in order ("%.1f", "%%"); a '%' that starts none gives "<bad %>".
std::vector<std::string> FormatSpecifiers(const std::string& text) {
    static const std::regex spec("%[-+ #0]*(\\*|[0-9]+)?(\\.(\\*|[0-9]*))?(hh|h|ll|l|L|I64|z|j|t)?[diouxXeEfFgGaAcspn%]");
    std::vector<std::string> specs;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') continue;
        std::smatch m;
        std::string rest = text.substr(i);
        if (std::regex_search(rest, m, spec, std::regex_constants::match_continuous)) {
            specs.push_back(m.str());
            i += m.length() - 1;
        } else {
            specs.push_back("<bad %>");
        }
    }
    return specs;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

std::string Join(const std::vector<std::string>& items) {
    std::string out;
    for (const std::string& item : items) out += item;
    return out;
}

}  // namespace

TEST(LanguageFiles, EveryFileParsesIntoBothPagesOfLabels) {
    for (const LanguageFile& file : AllFiles()) {
        SCOPED_TRACE(file.name);
        EXPECT_TRUE(file.problems.empty()) << file.problems.front();
        EXPECT_EQ(file.container, file.language);
        for (const char* page : kPages) EXPECT_TRUE(file.pages.count(page)) << page << " missing";
        EXPECT_EQ(file.pages.size(), 2u);
    }
}

TEST(LanguageFiles, EnglishHoldsExactlyTheDesignedTexts) {
    std::map<std::string, std::set<std::string>> expectedKeys;
    for (const Quoted& q : kEnglish) {
        expectedKeys[q.page].insert(q.key);
        auto page = English().pages.find(q.page);
        ASSERT_NE(page, English().pages.end()) << q.page;
        auto label = page->second.find(q.key);
        ASSERT_NE(label, page->second.end()) << q.page << "/" << q.key << " missing";
        EXPECT_EQ(label->second, q.text) << q.page << "/" << q.key;
    }
    for (const char* key : kCaptionKeys) {
        expectedKeys["install_page"].insert(key);
        const Page& install = English().pages.at("install_page");
        ASSERT_TRUE(install.count(key)) << key;
        EXPECT_EQ(Count(install.at(key), "{n}"), 1u) << key << ": one line break";
        EXPECT_GT(install.at(key).size(), 10u) << key;
    }
    for (const auto& page : English().pages)
        for (const auto& label : page.second)
            EXPECT_TRUE(expectedKeys[page.first].count(label.first)) << page.first << "/" << label.first << " is not a key of the window";
}

TEST(LanguageFiles, EveryLanguageHasEnglishKeys) {
    for (const LanguageFile& file : AllFiles()) {
        for (const char* pageName : kPages) {
            SCOPED_TRACE(file.name + " " + pageName);
            auto page = file.pages.find(pageName);
            ASSERT_NE(page, file.pages.end());
            const Page& english = English().pages.at(pageName);
            for (const auto& label : english) EXPECT_TRUE(page->second.count(label.first)) << label.first << " missing";
            for (const auto& label : page->second) EXPECT_TRUE(english.count(label.first)) << label.first << " is not an English key";
        }
    }
}

TEST(LanguageFiles, MarkupTagsNestAndMatchEnglish) {
    for (const LanguageFile& file : AllFiles()) {
        for (const auto& page : file.pages) {
            for (const auto& label : page.second) {
                SCOPED_TRACE(file.name + " " + page.first + "/" + label.first);
                std::string error;
                std::vector<std::string> tags = Tags(label.second, error);
                EXPECT_EQ(error, "");
                EXPECT_EQ(NestingError(tags), "");
                auto english = English().pages.at(page.first).find(label.first);
                if (english == English().pages.at(page.first).end()) continue;
                std::string englishError;
                // Same tags in the same order: link indexes (privacy policy first) stay as in English.
                EXPECT_EQ(Join(tags), Join(Tags(english->second, englishError)));
            }
        }
    }
}

TEST(LanguageFiles, FormatSpecifiersAndPlaceholdersMatchEnglish) {
    for (const LanguageFile& file : AllFiles()) {
        for (const auto& page : file.pages) {
            for (const auto& label : page.second) {
                SCOPED_TRACE(file.name + " " + page.first + "/" + label.first);
                auto english = English().pages.at(page.first).find(label.first);
                if (english == English().pages.at(page.first).end()) continue;
                EXPECT_EQ(Join(FormatSpecifiers(label.second)), Join(FormatSpecifiers(english->second)));
                // The drive letter of the SSD suggestion replaces this marker.
                EXPECT_EQ(Count(label.second, "**1**"), Count(english->second, "**1**"));
            }
        }
    }
    // The formats the window fills in are present at all.
    EXPECT_EQ(Join(FormatSpecifiers(English().pages.at("install_page").at("install_label"))), "%0.f%%");
    EXPECT_EQ(Join(FormatSpecifiers(English().pages.at("install_page").at("space_free"))), "%.1f");
}

TEST(LanguageFiles, ProductNameIsKeptUntranslated) {
    for (const LanguageFile& file : AllFiles()) {
        for (const auto& page : file.pages) {
            for (const auto& label : page.second) {
                auto english = English().pages.at(page.first).find(label.first);
                if (english == English().pages.at(page.first).end()) continue;
                SCOPED_TRACE(file.name + " " + page.first + "/" + label.first);
                EXPECT_EQ(Count(label.second, "Orbala Lumeno"), Count(english->second, "Orbala Lumeno"));
                EXPECT_EQ(Count(label.second, "Orbala"), Count(english->second, "Orbala"));
            }
        }
    }
}

TEST(LanguageFiles, EveryOtherLanguageIsTranslated) {
    std::set<std::pair<std::string, std::string>> exceptionsUsed;
    for (const LanguageFile& file : AllFiles()) {
        if (&file == &English()) continue;
        for (const auto& page : file.pages) {
            for (const auto& label : page.second) {
                auto english = English().pages.at(page.first).find(label.first);
                if (english == English().pages.at(page.first).end()) continue;
                SCOPED_TRACE(file.name + " " + page.first + "/" + label.first);
                if (english->second.empty()) {
                    EXPECT_EQ(label.second, "") << "empty in English, so empty in every language";
                    continue;
                }
                EXPECT_FALSE(label.second.empty());
                if (label.second != english->second) continue;
                auto allowed = kSameAsEnglish.find(label.first);
                bool isException = allowed != kSameAsEnglish.end() && allowed->second.count(file.language);
                EXPECT_TRUE(isException) << "still the English text: " << label.second;
                if (isException) exceptionsUsed.insert({label.first, file.language});
            }
        }
    }
    for (const auto& entry : kSameAsEnglish)
        for (const std::string& language : entry.second)
            EXPECT_TRUE(exceptionsUsed.count({entry.first, language}))
                << entry.first << " in " << language << " is translated now: drop it from the exceptions";
}

TEST(LicenseTexts, EveryLanguageButVietnameseHasOneOfTheSameShape) {
    // The licence controls in language-value order; Vietnamese has none and keeps the text as it was.
    const char* const controls[] = {
        "license_english", "license_japanese", "license_chinese", "license_spanish", "license_german",
        "license_french", "license_russian", "license_portuguese", "license_arabic", "license_italiano",
        "license_chinesetrad", "license_korean", "license_nederlands", "license_indonesian", "license_turkish",
        "license_hindi", "license_thai", "license_malay", "license_swedish", "license_czech",
    };
    std::string xml = test_support::ReadFile(test_support::SourcePath("skin/License.xml"));
    tinyxml2::XMLDocument doc;
    ASSERT_EQ(doc.Parse(xml.data(), xml.size()), tinyxml2::XML_SUCCESS);
    std::map<std::string, std::string> texts;
    for (const tinyxml2::XMLElement* e = doc.RootElement()->FirstChildElement(); e; e = e->NextSiblingElement())
        if (e->Attribute("name")) texts[e->Attribute("name")] = e->Attribute("text") ? e->Attribute("text") : "";
    EXPECT_EQ(texts.size(), 20u);
    EXPECT_FALSE(texts.count("license_vietnamese"));
    const std::string& english = texts["license_english"];
    for (const char* control : controls) {
        SCOPED_TRACE(control);
        ASSERT_TRUE(texts.count(control));
        const std::string& text = texts[control];
        EXPECT_EQ(Count(text, "Orbala Lumeno"), Count(english, "Orbala Lumeno"));
        // Same paragraphs (a title, the preamble and the numbered sections) as the English one.
        EXPECT_EQ(Count(text, "\n\n"), Count(english, "\n\n"));
        EXPECT_GT(text.size(), 1000u);
        if (std::string(control) != "license_english") {
            EXPECT_NE(text, english);
        }
        std::string error;
        EXPECT_TRUE(Tags(text, error).empty()) << "plain text, no markup";
        EXPECT_EQ(error, "");
    }
}
