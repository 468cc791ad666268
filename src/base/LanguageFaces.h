#pragma once
// The face every text of the window is drawn in, per UI language, and the languages written
// right to left. The faces are Windows' own UI faces for each script; on Windows a face that is
// missing falls back to another of the script, and under Wine the prefix maps each name to an
// installed font (scripts/wine-env.sh).
#include <cstdint>
#include <string>

// The UI face of a language (EnumLanguage value); Latin, Cyrillic, Vietnamese and Arabic texts,
// and values outside the table, use "Segoe UI" (which has Arabic on Windows; where it does not,
// the toolkit draws a script the face lacks in a face of that script).
std::wstring GetLanguageUiFace(int32_t language);
// True for the languages whose pages run from the right (Arabic).
bool IsRightToLeftLanguage(int32_t language);
