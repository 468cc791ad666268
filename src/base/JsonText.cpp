#include "base/JsonText.h"

#include <memory>

namespace JsonText {

bool Parse(const std::string& text, Json::Value& value, std::string* errors) {
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string messages;
    value = Json::Value();
    const bool ok = reader->parse(text.data(), text.data() + text.size(), &value, &messages);
    if (!ok) value = Json::Value();
    if (errors) *errors = messages;
    return ok;
}

Json::Value ParseObject(const std::string& text) {
    Json::Value root;
    if (text.empty() || !Parse(text, root) || !root.isObject()) return Json::Value(Json::objectValue);
    return root;
}

}  // namespace JsonText
