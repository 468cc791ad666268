#pragma once
// Parsing JSON text with jsoncpp's reader, in one place.
#include <json/json.h>

#include <string>

namespace JsonText {

// Parses text into value; false (value null, errors filled when given) when it is not JSON.
bool Parse(const std::string& text, Json::Value& value, std::string* errors = nullptr);
// The object the text holds; an empty object when the text is empty, not JSON or not an object.
Json::Value ParseObject(const std::string& text);

}  // namespace JsonText
