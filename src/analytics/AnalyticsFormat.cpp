#include "analytics/AnalyticsFormat.h"

#include <json/json.h>

#include <cstdio>

#include "base/TextCodec.h"
#include "base/JsonText.h"

namespace AnalyticsFormat {
namespace {

// Member order is jsoncpp's own (alphabetical); tab indentation and a final line feed.
std::string Styled(const Json::Value& value) { return value.toStyledString(); }

// The day marker file is written in the older styled form (three-space indentation).
std::string StyledFile(const Json::Value& value) {
    Json::StyledWriter writer;
    return writer.write(value);
}


int IntMember(const Json::Value& object, const char* name) {
    const Json::Value& v = object[name];
    if (v.isInt()) return v.asInt();
    if (v.isUInt() && v.asUInt() <= 0x7fffffffu) return static_cast<int>(v.asUInt());
    return -1;
}

Json::Value CommonMembers(const Identity& id, const FunnelCommon& common, bool isToolKit) {
    Json::Value body(Json::objectValue);
    body["is_new"] = common.isNew ? 1 : 0;
    body["brand"] = "PC";
    body["model"] = "PC";
    body["product"] = common.product;
    body["product_version"] = common.productVersion;
    body["email"] = "";
    body["phone"] = "";
    body["cross_end_id"] = id.crossEndId;
    body["rnclid"] = id.crossEndId;
    body["source_type"] = "downloader";
    body["tools_version"] = id.toolsVersion;
    body["tools_lang"] = common.toolsLang;
    body["kit_type"] = isToolKit ? 2 : (common.kitFlag ? 1 : 0);
    body["pid"] = common.mainPid;
    return body;
}

}  // namespace

std::string CrossEndIdFromPath(const std::wstring& executablePath) {
    size_t slash = executablePath.find_last_of(L'\\');
    std::wstring name = slash == std::wstring::npos ? executablePath : executablePath.substr(slash + 1);
    size_t underscore = name.rfind(L'_');
    size_t dot = name.rfind(L'.');
    if (underscore == std::wstring::npos || dot == std::wstring::npos || dot < underscore) return std::string();
    return TextCodec::WideToUtf8(name.substr(underscore + 1, dot - underscore - 1));
}

void SplitLanguageName(const std::string& name, std::string& language, std::string& country) {
    size_t split = name.find('_');
    if (split == std::string::npos) {
        language = country = "Unknown";
        return;
    }
    language = name.substr(0, split);
    country = name.substr(split + 1);
}

std::string SystemText(const std::string& osName, bool is64Bit) { return osName + (is64Bit ? " 64bit" : " 32bit"); }

std::string DurationBucketText(int64_t seconds, const std::string& suffix) {
    int64_t lo = (seconds / 3) * 3;
    return "[" + std::to_string(lo) + "~" + std::to_string(lo + 3) + "]" + suffix;
}

std::string Ga4Query(const Identity& id, const Ga4Fields& f, const std::string& category, const std::string& action,
                     const std::string& label) {
    char dimensions[4096];
    int n = snprintf(dimensions, sizeof(dimensions),
                     "&ep.cd1=%s&ep.cd2=%s&ep.cd3=%s&ep.cd4=%s&ep.cd5=%s&ep.cd6=%s&ep.cd7=%s&ep.cd8=%d",
                     id.toolsVersion.c_str(), f.siteCategory.c_str(), f.channelLabel.c_str(), f.productName.c_str(),
                     id.country.c_str(), id.language.c_str(), id.systemText.c_str(), f.kitFlag ? 0 : 1);
    if (n < 0 || n >= static_cast<int>(sizeof(dimensions))) return std::string();
    char query[4096];
    n = snprintf(query, sizeof(query),
                 "&tid=G-Q3RT8KW2ZN&ep.qv_productname=Downloader&ep.qv_productversion=%s&ep.qv_category=%s"
                 "&ep.qv_action=%s&ep.qv_label=%s&en=%s%s",
                 id.toolsVersion.c_str(), category.c_str(), action.c_str(), label.c_str(), action.c_str(), dimensions);
    // A query that does not fit is refused rather than cut: a cut query would be a different event.
    if (n < 0 || n >= static_cast<int>(sizeof(query))) return std::string();
    return std::string(query, static_cast<size_t>(n));
}

std::string FunnelBody(const Identity& id, const FunnelCommon& common, bool isToolKit, const std::string& eventType,
                       const std::string& coreFuncName, int32_t funcStep, const std::string& category,
                       const std::string& action, const std::string& label) {
    Json::Value body = CommonMembers(id, common, isToolKit);
    Json::Value actions(Json::objectValue);
    actions["event_category"] = category;
    actions["event_action"] = action;
    actions["event_label"] = label;
    if (!coreFuncName.empty()) {
        actions["core_func_name"] = coreFuncName;
        actions["func_step"] = funcStep;
    }
    actions["event_type"] = eventType.empty() ? std::string("event") : eventType;
    body["actions"] = actions;
    return Styled(body);
}

std::string FunnelExBody(const Identity& id, const FunnelCommon& common, bool isToolKit, const std::string& category,
                         const std::string& action, const std::map<std::string, std::string>& extras) {
    Json::Value body = CommonMembers(id, common, isToolKit);
    Json::Value actions(Json::objectValue);
    actions["event_type"] = "event";
    actions["event_category"] = category;
    actions["event_action"] = action;
    for (const auto& extra : extras)
        if (!extra.first.empty()) actions[extra.first] = extra.second;
    body["actions"] = actions;
    return Styled(body);
}

std::string ExtraCommonJson(const std::string& toolsLang, const std::string& productVersion) {
    Json::Value value(Json::objectValue);
    value["tools_lang"] = toolsLang;
    value["product_version"] = productVersion;
    return Styled(value);
}

bool DayMarkerUpdate(const std::string& fileText, bool fileExists, int year, int month, int day, std::string& newText) {
    Json::Value root = fileExists ? JsonText::ParseObject(fileText) : Json::Value(Json::objectValue);
    if (fileExists && IntMember(root, "year") == year && IntMember(root, "month") == month &&
        IntMember(root, "day") == day) {
        newText.clear();
        return false;
    }
    root["year"] = year;
    root["month"] = month;
    root["day"] = day;
    newText = StyledFile(root);
    return true;
}

std::string DayMarkerWithVersion(const std::string& fileText, bool fileExists, const std::string& toolsVersion) {
    Json::Value root = fileExists ? JsonText::ParseObject(fileText) : Json::Value(Json::objectValue);
    if (fileExists && root["version"].isString() && root["version"].asString() == toolsVersion) return std::string();
    root["version"] = toolsVersion;
    return StyledFile(root);
}

}  // namespace AnalyticsFormat
