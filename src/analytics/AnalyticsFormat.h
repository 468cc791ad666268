#pragma once
// The texts the analytics object sends, as plain functions over plain data: the GA4 query,
// the two funnel body forms, the day marker file and the small derived identity values.
#include <cstdint>
#include <map>
#include <string>

namespace AnalyticsFormat {

// Values of the running copy that every event carries.
struct Identity {
    std::string toolsVersion;  // file version of the executable, "a.b.c.d"
    std::string crossEndId;    // from the executable's file name, see CrossEndIdFromPath
    std::string systemText;    // OS display name + " 64bit" / " 32bit"
    std::string language;      // UI language name before its first "_", else "Unknown"
    std::string country;       // after it, else "Unknown"
};

// The text after the file name's last underscore up to its last full stop; empty when the
// name (after the last backslash) has no underscore or no full stop after it.
std::string CrossEndIdFromPath(const std::wstring& executablePath);
// Splits "en_US" into "en" and "US"; both "Unknown" without an underscore.
void SplitLanguageName(const std::string& name, std::string& language, std::string& country);
std::string SystemText(const std::string& osName, bool is64Bit);

// "[lo~lo+3]" + suffix with lo = seconds / 3 * 3.
std::string DurationBucketText(int64_t seconds, const std::string& suffix);

struct Ga4Fields {
    std::string siteCategory;
    std::string channelLabel;
    std::string productName;
    bool kitFlag = false;
};
// The GA4 query handed to the report object; empty when it would not fit in 4096 bytes.
std::string Ga4Query(const Identity& id, const Ga4Fields& fields, const std::string& category,
                     const std::string& action, const std::string& label);

// The members shared by both funnel forms.
struct FunnelCommon {
    bool isNew = false;
    std::string product;
    std::string productVersion;
    std::string toolsLang;
    bool kitFlag = false;
    int32_t mainPid = 0;
};
std::string FunnelBody(const Identity& id, const FunnelCommon& common, bool isToolKit, const std::string& eventType,
                       const std::string& coreFuncName, int32_t funcStep, const std::string& category,
                       const std::string& action, const std::string& label);
std::string FunnelExBody(const Identity& id, const FunnelCommon& common, bool isToolKit, const std::string& category,
                         const std::string& action, const std::map<std::string, std::string>& extras);
// {"tools_lang": ..., "product_version": ...} in the styled form.
std::string ExtraCommonJson(const std::string& toolsLang, const std::string& productVersion);

// The day marker: given the file's text (empty when there is none) and today's date, tells
// whether this start is the first of the day and gives the text to write back (empty: leave
// the file alone). Other members survive.
bool DayMarkerUpdate(const std::string& fileText, bool fileExists, int year, int month, int day,
                     std::string& newText);
// Records the tools version in the day marker text; empty result: leave the file alone.
std::string DayMarkerWithVersion(const std::string& fileText, bool fileExists, const std::string& toolsVersion);

}  // namespace AnalyticsFormat
