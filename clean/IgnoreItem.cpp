#include "clean/IgnoreItem.h"

#include "clean/IgnoreList.h"
#include "engine/BoundaryGuard.h"
#include "registry/RegistryUtility.h"

namespace tidyhive {

TCustomIgnoreItem::TCustomIgnoreItem(TIgnoreList* owner) : owner_(owner) {}

BSTR STDMETHODCALLTYPE TCustomIgnoreItem::GetValue()
{
    return ReturnText(value_);
}

BSTR STDMETHODCALLTYPE TCustomIgnoreItem::GetKey()
{
    return ReturnText(key_);
}

BSTR STDMETHODCALLTYPE TCustomIgnoreItem::GetDisplay()
{
    return Guarded<BSTR>(L"CustomIgnoreItem - GetDisplay", nullptr, [&] { return ReturnText(Display()); });
}

void STDMETHODCALLTYPE TCustomIgnoreItem::Delete()
{
    // The owner frees the item: nothing of it may be touched afterwards.
    GuardedVoid(L"CustomIgnoreItem - Delete", [&] {
        if (owner_) {
            owner_->DeleteItemObject(this);
        }
    });
}

void TCustomIgnoreItem::SetKey(const std::wstring& key)
{
    key_ = key;
    if (!key_.empty() && key_.back() == L'\\') {
        key_.pop_back();
    }
    Changed();
}

void TCustomIgnoreItem::SetValue(const std::wstring& value)
{
    value_ = value;
    Changed();
}

void TCustomIgnoreItem::AssignStored(const std::wstring& key, const std::wstring& value)
{
    key_ = key;
    value_ = value;
}

void TCustomIgnoreItem::Changed()
{
    if (owner_) {
        owner_->ItemChanged(this);
    }
}

std::wstring TCustomIgnoreItem::ToText() const
{
    return L"<type>" + std::wstring(ClassName()) + L"</type><key>" + key_ + L"</key><value>" + value_ +
           L"</value><display>" + display_ + L"</display><regex>" + regex_ + L"</regex>";
}

std::unique_ptr<TCustomIgnoreItem> TCustomIgnoreItem::CreateFromText(const std::wstring& line,
                                                                     TIgnoreList* owner)
{
    auto item = std::make_unique<TCustomIgnoreItem>(owner);
    if (StoredTag(line, L"type") == item->ClassName()) {
        item->AssignStored(StoredTag(line, L"key"), StoredTag(line, L"value"));
        item->display_ = StoredTag(line, L"display");
        item->regex_ = StoredTag(line, L"regex");
    }
    return item;
}

std::wstring TIgnoreItem::Regex() const
{
    std::wstring keyPart = EscapeForRegex(Key());
    std::wstring valuePart;
    if (Value() == L"*") {
        keyPart += L"(\\\\.*)?";
        valuePart = L".*";
    } else {
        valuePart = EscapeForRegex(Value());
    }
    return L"<key>" + keyPart + L"</key><value>" + valuePart + L"</value>";
}

namespace {

bool IsFilePath(const std::wstring& key)
{
    const bool drive = key.size() >= 3 && iswalpha(key[0]) && key[1] == L':' && key[2] == L'\\';
    const bool unc = key.size() >= 2 && key[0] == L'\\' && key[1] == L'\\';
    return drive || unc;
}

bool StoredKeyExists(const std::wstring& key)
{
    if (IsFilePath(key)) {
        return GetFileAttributesW(key.c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    TRegistryUtility registry(nullptr);
    bool success = false;
    return registry.KeyExistsSafe(key, success) && success;
}

}  // namespace

std::unique_ptr<TCustomIgnoreItem> TIgnoreItem::CreateFromText(const std::wstring& line, TIgnoreList* owner)
{
    if (StoredTag(line, L"type") != L"TIgnoreItem") {
        return nullptr;
    }
    const std::wstring key = StoredTag(line, L"key");
    if (key.empty() || !StoredKeyExists(key)) {
        return nullptr;  // a key that has gone drops its item; the next save forgets it
    }
    auto item = std::make_unique<TIgnoreItem>(owner);
    item->AssignStored(key, StoredTag(line, L"value"));
    return item;
}

std::wstring StoredTag(const std::wstring& line, const std::wstring& tag)
{
    const std::wstring open = L"<" + tag + L">";
    const std::wstring close = L"</" + tag + L">";
    const size_t start = line.find(open);
    if (start == std::wstring::npos) {
        return {};
    }
    const size_t from = start + open.size();
    const size_t end = line.find(close, from);
    return end == std::wstring::npos ? std::wstring() : line.substr(from, end - from);
}

std::wstring EscapeForRegex(const std::wstring& text)
{
    static const std::wstring kSpecial = L"$()*+.?[]\\^{}|";
    std::wstring result;
    result.reserve(text.size() * 2);
    for (wchar_t c : text) {
        if (kSpecial.find(c) != std::wstring::npos) {
            result += L'\\';
        }
        result += c;
    }
    return result;
}

bool StorableIgnoreText(const std::wstring& text)
{
    if (text.find_first_of(L"\r\n") != std::wstring::npos) {
        return false;
    }
    for (const wchar_t* tag : {L"type>", L"key>", L"value>", L"display>", L"regex>"}) {
        if (text.find(std::wstring(L"<") + tag) != std::wstring::npos ||
            text.find(std::wstring(L"</") + tag) != std::wstring::npos) {
            return false;
        }
    }
    return true;
}

}  // namespace tidyhive
