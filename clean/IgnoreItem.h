// Ignore items: one registry entry (or a whole key) that the scanners must not report.
#pragma once

#include "engine/CommonInterfacedObject.h"

#include <memory>
#include <string>

namespace tidyhive {

class TIgnoreList;

// An item with a stored display and a stored regular expression; it matches whatever its
// expression matches against "<key>...</key><value>...</value>".
class TCustomIgnoreItem : public TCommonInterfacedObject<IIgnoreItem> {
public:
    explicit TCustomIgnoreItem(TIgnoreList* owner = nullptr);

    BSTR STDMETHODCALLTYPE GetValue() override;
    BSTR STDMETHODCALLTYPE GetKey() override;
    BSTR STDMETHODCALLTYPE GetDisplay() override;
    void STDMETHODCALLTYPE Delete() override;

    const std::wstring& Key() const { return key_; }
    const std::wstring& Value() const { return value_; }
    // Setting the key drops one trailing backslash; both tell the owner list.
    void SetKey(const std::wstring& key);
    void SetValue(const std::wstring& value);

    virtual std::wstring Regex() const { return regex_; }
    virtual void SetRegex(const std::wstring& regex) { regex_ = regex; }
    virtual std::wstring Display() const { return display_; }
    virtual void SetDisplay(const std::wstring& display) { display_ = display; }
    virtual const wchar_t* ClassName() const { return L"TCustomIgnoreItem"; }

    // One stored line.
    std::wstring ToText() const;
    // The item a stored line describes, or null when the line names another class.
    static std::unique_ptr<TCustomIgnoreItem> CreateFromText(const std::wstring& line, TIgnoreList* owner);

    TIgnoreList* Owner() const { return owner_; }
    void SetOwner(TIgnoreList* owner) { owner_ = owner; }

protected:
    void Changed();
    // Fields straight from a stored line, without the trailing-backslash rule.
    void AssignStored(const std::wstring& key, const std::wstring& value);

private:
    std::wstring value_;
    std::wstring key_;
    std::wstring display_;
    std::wstring regex_;
    TIgnoreList* owner_;
};

// The ordinary item: a key and a value name ("*" for the whole key and everything below).
class TIgnoreItem : public TCustomIgnoreItem {
public:
    explicit TIgnoreItem(TIgnoreList* owner = nullptr) : TCustomIgnoreItem(owner) {}

    std::wstring Regex() const override;
    void SetRegex(const std::wstring&) override {}
    std::wstring Display() const override { return Key() + L": " + Value(); }
    void SetDisplay(const std::wstring&) override {}
    const wchar_t* ClassName() const override { return L"TIgnoreItem"; }

    // Built only when the line names this class, has a key, and that key (a registry key in
    // either view, or a file) still exists.
    static std::unique_ptr<TCustomIgnoreItem> CreateFromText(const std::wstring& line, TIgnoreList* owner);
};

// Text between the first "<tag>" and the first "</tag>" after it; empty when absent.
std::wstring StoredTag(const std::wstring& line, const std::wstring& tag);
// Escapes the fourteen characters that have a meaning in an expression.
std::wstring EscapeForRegex(const std::wstring& text);
// Whether a key or value can be stored in a line and read back unchanged.
bool StorableIgnoreText(const std::wstring& text);

}  // namespace tidyhive
