#include "base/LanguageFaces.h"

#include "base/LanguageTables.h"

std::wstring GetLanguageUiFace(int32_t language) {
    switch (language) {
        case Japanese: return L"Meiryo UI";
        case Chinese: return L"Microsoft YaHei";
        case ChineseTrad: return L"Microsoft JhengHei";
        case Korean: return L"Malgun Gothic";
        case Hindi: return L"Nirmala UI";
        case Thai: return L"Leelawadee UI";
        default: return L"Segoe UI";
    }
}

bool IsRightToLeftLanguage(int32_t language) { return language == Arabic; }
