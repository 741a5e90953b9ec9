#include "siblings/docuframe/XmlText.h"

namespace tidyhive::siblings {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string &out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Next code point of UTF-16 text; a lone surrogate reads as U+FFFD.
char32_t NextCodePoint(std::wstring_view text, size_t &i)
{
    const char32_t unit = static_cast<char16_t>(text[i++]);
    if (unit >= 0xD800 && unit <= 0xDBFF) {
        if (i < text.size()) {
            const char32_t low = static_cast<char16_t>(text[i]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                ++i;
                return 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
            }
        }
        return kReplacement;
    }
    if (unit >= 0xDC00 && unit <= 0xDFFF) {
        return kReplacement;
    }
    return unit;
}

// The Char production of XML 1.0.
bool IsXmlChar(char32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

bool IsNameStartChar(char32_t c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || (c >= 0xC0 && c <= 0xD6) ||
           (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) || (c >= 0x370 && c <= 0x37D) ||
           (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) || (c >= 0x2070 && c <= 0x218F) ||
           (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) || (c >= 0xF900 && c <= 0xFDCF) ||
           (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
}

bool IsNameChar(char32_t c)
{
    return IsNameStartChar(c) || c == '-' || c == '.' || (c >= '0' && c <= '9') || c == 0xB7 ||
           (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

} // namespace

std::string XmlAttributeValue(std::wstring_view text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    for (size_t i = 0; i < text.size();) {
        const char32_t c = NextCodePoint(text, i);
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case 0x9:
            out += "&#9;";
            break;
        case 0xA:
            out += "&#10;";
            break;
        case 0xD:
            out += "&#13;";
            break;
        default:
            AppendUtf8(out, IsXmlChar(c) ? c : kReplacement);
        }
    }
    return out;
}

std::string XmlName(std::wstring_view text)
{
    std::string out;
    bool first = true;
    for (size_t i = 0; i < text.size();) {
        const char32_t c = NextCodePoint(text, i);
        if (first && !IsNameStartChar(c)) {
            out += '_';
            if (IsNameChar(c)) {
                AppendUtf8(out, c);
            }
        } else {
            // ':' would bind a namespace prefix nobody declared.
            AppendUtf8(out, IsNameChar(c) ? c : U'_');
        }
        first = false;
    }
    return out.empty() ? std::string("_") : out;
}

} // namespace tidyhive::siblings
