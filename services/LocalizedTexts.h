// Localized texts: one variable per key, holding the English default until the localiser
// writes the chosen language's text into it. Read a text at the moment of use.
#pragma once

#include <string>

namespace tidyhive {

enum class TextKey : int {
#define TIDYHIVE_TEXT(key, text) key,
#include "services/LocalizedTextList.inc"
#undef TIDYHIVE_TEXT
    Count
};

// The current text of a key.
std::wstring LoadText(TextKey key);
// The key's name, as registered with the localiser.
const wchar_t *TextKeyName(TextKey key);
// The English default of a key.
const wchar_t *DefaultText(TextKey key);

// Registers every variable with the localiser (once per process) and chooses the language.
// Errors leave the English texts in place.
void InitializeLocalizedTexts();

// Switches every text to another language (registering first if that has not happened).
// Readers of the texts wait while the localiser rewrites them; a language without a usable
// file leaves the English texts and writes one line to the debug log.
void SetTextLanguage(const std::wstring &language);

} // namespace tidyhive
