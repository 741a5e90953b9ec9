#include "tests/support/XmlTree.h"

#include <windows.h>
#include <msxml2.h>
#include <shlwapi.h>
#include <wrl/client.h>

#include <cstdio>
#include <stdexcept>

using Microsoft::WRL::ComPtr;

namespace tidyhive::testing {
namespace {

// DOMDocument30: the version-stamped parser, present in Windows and Wine alike.
constexpr CLSID kDomDocument30 = {
    0xF5078F32, 0xC551, 0x11D3, {0x89, 0xB9, 0x00, 0x00, 0xF8, 0x1F, 0xE2, 0x21}};

std::string Narrow(const std::wstring &text)
{
    std::string out;
    for (wchar_t c : text) {
        out += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return out;
}

std::wstring TakeBstr(BSTR text)
{
    std::wstring result = text ? std::wstring(text, SysStringLen(text)) : std::wstring();
    SysFreeString(text);
    return result;
}

void Check(HRESULT status, const char *what)
{
    if (FAILED(status)) {
        char message[128];
        std::snprintf(message, sizeof(message), "%s failed: 0x%08lX", what,
                      static_cast<unsigned long>(status));
        throw std::runtime_error(message);
    }
}

TXmlNode ReadElement(IXMLDOMNode *node)
{
    TXmlNode result;
    BSTR name = nullptr;
    Check(node->get_nodeName(&name), "get_nodeName");
    result.name = TakeBstr(name);

    ComPtr<IXMLDOMNamedNodeMap> attributes;
    if (SUCCEEDED(node->get_attributes(&attributes)) && attributes) {
        long count = 0;
        attributes->get_length(&count);
        for (long i = 0; i < count; ++i) {
            ComPtr<IXMLDOMNode> attribute;
            Check(attributes->get_item(i, &attribute), "attribute item");
            BSTR attributeName = nullptr;
            attribute->get_nodeName(&attributeName);
            VARIANT value;
            VariantInit(&value);
            attribute->get_nodeValue(&value);
            std::wstring text =
                value.vt == VT_BSTR ? std::wstring(value.bstrVal, SysStringLen(value.bstrVal)) : L"";
            VariantClear(&value);
            result.attributes.emplace_back(TakeBstr(attributeName), text);
        }
    }

    ComPtr<IXMLDOMNodeList> children;
    Check(node->get_childNodes(&children), "get_childNodes");
    long count = 0;
    children->get_length(&count);
    for (long i = 0; i < count; ++i) {
        ComPtr<IXMLDOMNode> child;
        Check(children->get_item(i, &child), "child item");
        DOMNodeType type = NODE_INVALID;
        child->get_nodeType(&type);
        if (type == NODE_ELEMENT) {
            result.children.push_back(ReadElement(child.Get()));
        } else if (type == NODE_TEXT || type == NODE_CDATA_SECTION) {
            // The report carries no text content: show any as a pseudo element.
            result.children.push_back(Element(L"#text"));
        }
    }
    return result;
}

void AppendShown(std::wstring &out, const std::wstring &text)
{
    for (wchar_t c : text) {
        if (c < 0x20 || c >= 0x7F || c == L'"' || c == L'\\') {
            wchar_t escape[8];
            swprintf(escape, 8, L"\\u%04X", static_cast<unsigned>(c));
            out += escape;
        } else {
            out += c;
        }
    }
}

} // namespace

std::string ReadFileText(const std::wstring &path)
{
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        throw std::runtime_error("cannot open " + Narrow(path));
    }
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        bytes.append(buffer, read);
    }
    CloseHandle(file);
    return bytes;
}

TXmlNode ParseXml(const std::string &bytes)
{
    ComPtr<IXMLDOMDocument> document;
    Check(CoCreateInstance(kDomDocument30, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument,
                           reinterpret_cast<void **>(document.GetAddressOf())),
          "creating the XML parser");
    document->put_async(VARIANT_FALSE);
    document->put_validateOnParse(VARIANT_FALSE);
    document->put_resolveExternals(VARIANT_FALSE);

    // Loaded from a stream of the raw bytes, so the parser itself decodes the UTF-8.
    ComPtr<IStream> stream;
    stream.Attach(
        SHCreateMemStream(reinterpret_cast<const BYTE *>(bytes.data()), static_cast<UINT>(bytes.size())));
    if (!stream) {
        throw std::runtime_error("cannot create a memory stream");
    }
    VARIANT source;
    VariantInit(&source);
    source.vt = VT_UNKNOWN;
    source.punkVal = stream.Get();
    VARIANT_BOOL loaded = VARIANT_FALSE;
    const HRESULT status = document->load(source, &loaded);
    if (FAILED(status) || loaded != VARIANT_TRUE) {
        std::string reason = "the document is not well-formed";
        ComPtr<IXMLDOMParseError> error;
        if (SUCCEEDED(document->get_parseError(&error)) && error) {
            BSTR text = nullptr;
            long line = 0;
            long column = 0;
            error->get_reason(&text);
            error->get_line(&line);
            error->get_linepos(&column);
            reason += ": " + Narrow(TakeBstr(text)) + " at line " + std::to_string(line) + ", column " +
                      std::to_string(column);
        }
        throw std::runtime_error(reason);
    }
    ComPtr<IXMLDOMElement> root;
    Check(document->get_documentElement(&root), "get_documentElement");
    if (!root) {
        throw std::runtime_error("the document has no root element");
    }
    return ReadElement(root.Get());
}

TXmlNode ParseXmlFile(const std::wstring &path)
{
    return ParseXml(ReadFileText(path));
}

std::wstring Describe(const TXmlNode &node)
{
    std::wstring out;
    AppendShown(out, node.name);
    if (!node.attributes.empty()) {
        out += L'{';
        for (size_t i = 0; i < node.attributes.size(); ++i) {
            out += i ? L", " : L"";
            AppendShown(out, node.attributes[i].first);
            out += L"=\"";
            AppendShown(out, node.attributes[i].second);
            out += L'"';
        }
        out += L'}';
    }
    if (!node.children.empty()) {
        out += L'[';
        for (size_t i = 0; i < node.children.size(); ++i) {
            out += i ? L", " : L"";
            out += Describe(node.children[i]);
        }
        out += L']';
    }
    return out;
}

TXmlNode Element(std::wstring name, std::vector<std::pair<std::wstring, std::wstring>> attributes,
                 std::vector<TXmlNode> children)
{
    return TXmlNode{std::move(name), std::move(attributes), std::move(children)};
}

} // namespace tidyhive::testing
