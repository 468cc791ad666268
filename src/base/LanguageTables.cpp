#include "base/LanguageTables.h"

namespace {
const char* const kServiceCodes[kLanguageCount] = {
    "en", "ja", "zh-cn", "es", "de", "fr", "ru", "pt", "ar", "it", "zh-tw",
    "ko", "nl", "id", "tr", "hi", "th", "my", "se", "cz", "vi",
};
}

std::string GetLanguageCode(int32_t language) {
    if (language < 0 || language >= kLanguageCount) return "en";
    return kServiceCodes[language];
}
