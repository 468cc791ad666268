#pragma once
// The installer's 21 UI languages and their per-language values.
#include <cstdint>
#include <string>

enum EnumLanguage : int32_t {
    English = 0, Japanese, Chinese, Spanish, German, French, Russian, Portuguese, Arabic, Italiano,
    ChineseTrad, Korean, Nederlands, Indonesian, Turkish, Hindi, Thai, Malay, Swedish, Czech, Vietnamese,
    kLanguageCount
};

// Language code sent to the maker's services ("en", "zh-cn", ...); English's for values outside the table.
std::string GetLanguageCode(int32_t language);
