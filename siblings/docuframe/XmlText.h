// Turning the engine's wide texts into XML 1.0 in UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace tidyhive::siblings {

// An attribute value, escaped for a double-quoted attribute. Tab, CR and LF become
// character references so that a parser's whitespace normalisation keeps them; characters
// XML 1.0 cannot carry at all (other control characters, lone surrogates, U+FFFE, U+FFFF)
// become U+FFFD.
std::string XmlAttributeValue(std::wstring_view text);

// An element or attribute name: characters not allowed in an XML name become "_", and a
// name that could not start an element gains a leading "_". Never empty.
std::string XmlName(std::wstring_view text);

} // namespace tidyhive::siblings
