// Reads an XML file back with the platform's own parser (MSXML), independent of the
// writer under test, into a plain element tree that tests compare as text.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tidyhive::testing {

struct TXmlNode {
    std::wstring name;
    std::vector<std::pair<std::wstring, std::wstring>> attributes; // in document order
    std::vector<TXmlNode> children;                                // elements only
};

// The file's bytes, read with every sharing mode so that a writer may hold it open.
std::string ReadFileText(const std::wstring &path);

// Parses a whole UTF-8 document. Throws std::runtime_error carrying the parser's reason
// and position when the document is not well-formed (or not valid UTF-8).
TXmlNode ParseXml(const std::string &bytes);
TXmlNode ParseXmlFile(const std::wstring &path);

// A one-line canonical form, e.g. report[info{user="x"}, scanLog[summary{a="1"}]];
// control and non-ASCII characters of values are shown as \uXXXX so failures read well.
std::wstring Describe(const TXmlNode &node);

// Builds an expected tree: Element(L"a", {{L"x", L"1"}}, {Element(L"b")}).
TXmlNode Element(std::wstring name, std::vector<std::pair<std::wstring, std::wstring>> attributes = {},
                 std::vector<TXmlNode> children = {});

} // namespace tidyhive::testing
