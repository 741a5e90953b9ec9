// The registry utilities the scanners, algorithms and fixes use. Every call takes a full
// path ("HKEY_LOCAL_MACHINE\SOFTWARE\..."); the key stays open for the next call with the
// same path (compared case-sensitively).
//
// - TStdRegistryUtility reads through the plain registry with read access.
// - TRegistryUtility reads and changes through the recorded route, so that the backup
//   library records every change; before it deletes, it makes sure the current user may.
//
// Plain operations raise on failure; each "Safe" form runs the plain one, answers false (or
// empty) instead of raising and reports through success whether it ran to the end.
#pragma once

#include "registry/AccessRights.h"
#include "registry/BackvaultRegistry.h"
#include "registry/RegistryException.h"
#include "services/DebugLog.h"
#include "tidyhive/Backvault.h"

#include <windows.h>

#include <exception>
#include <memory>
#include <string>

namespace tidyhive {

// Runs body; any exception goes to the debug log as an error line and gives fallback.
template <class Result, class Body> Result SafeCall(bool& success, Result fallback, Body&& body)
{
    try {
        Result result = body();
        success = true;
        return result;
    } catch (const std::exception& error) {
        DebugLog::LogError(ExceptionMessage(error));
    } catch (...) {
        DebugLog::LogError(L"Unknown exception");
    }
    success = false;
    return fallback;
}

// What both utilities share: the open path and the reads.
class TBaseRegistryUtility {
public:
    virtual ~TBaseRegistryUtility();
    TBaseRegistryUtility(const TBaseRegistryUtility&) = delete;
    TBaseRegistryUtility& operator=(const TBaseRegistryUtility&) = delete;

    // The full path of the open key; empty when none is open.
    const std::wstring& CurrentPath() const { return currentPath_; }
    bool Is64BitView() const { return view64_; }
    const TBackvaultRegistry& Registry() const { return *registry_; }

    void CloseKey();
    // Opens the key (never creates it). An empty path answers true and changes nothing; the
    // path of the open key answers true without touching the registry. On failure no key is
    // open.
    bool OpenKey(const std::wstring& path);
    // Fill names (cleared first) and answer true when the key opens.
    bool GetKeyNames(const std::wstring& path, TNameList& names);
    bool GetValueNames(const std::wstring& path, TNameList& names);
    // The text of a REG_SZ or REG_EXPAND_SZ value; empty when the key does not open, the value
    // is missing or of another kind.
    std::wstring ReadString(const std::wstring& path, const std::wstring& name);

    // Every value with its text, read in one pass (see TValueText); true when the key opens.
    bool GetValueTexts(const std::wstring& path, TValueTextList& values);

    bool GetKeyNamesSafe(const std::wstring& path, TNameList& names, bool& success);
    bool GetValueTextsSafe(const std::wstring& path, TValueTextList& values, bool& success);
    // Subkey names and values with their texts in one look at the key; true when it opens.
    bool GetContentSafe(const std::wstring& path, TNameList& names, TValueTextList& values, bool& success);
    bool GetValueNamesSafe(const std::wstring& path, TNameList& names, bool& success);
    std::wstring ReadStringSafe(const std::wstring& path, const std::wstring& name, bool& success);

protected:
    TBaseRegistryUtility(const wchar_t* className, std::unique_ptr<TBackvaultRegistry> registry);

    // Runs body; an exception is logged as "<class less T> - <operation> - <message>" and
    // raised again.
    template <class Body> auto Logged(const wchar_t* operation, Body&& body) -> decltype(body())
    {
        try {
            return body();
        } catch (const std::exception& error) {
            DebugLog::Failure(className_, operation, ExceptionMessage(error));
            throw;
        }
    }

    const wchar_t* className_;
    std::wstring currentPath_;
    std::unique_ptr<TBackvaultRegistry> registry_;
    bool view64_ = false;
};

class TStdRegistryUtility : public TBaseRegistryUtility {
public:
    TStdRegistryUtility();

    // Replaces the registry object by one with the given access, reopening the key that was
    // open (the current path is forgotten when it no longer opens).
    void RecreateRegistryAccess(REGSAM access);
    // Selects the 64-bit (true) or the 32-bit view on a 64-bit system; nothing on a 32-bit one.
    void Set64BitView(bool view64);
    // Whether the key opens in the selected view.
    bool KeyExists(const std::wstring& path);
};

class TRegistryUtility : public TBaseRegistryUtility {
public:
    // With the backup library of the restore manager.
    TRegistryUtility();
    // With the given backup library; null: the plain registry, nothing recorded.
    explicit TRegistryUtility(IBackvault* backup);
    ~TRegistryUtility() override;

    void Set64BitView(bool view64);
    // Whether the key exists in the 32-bit or in the 64-bit view.
    bool KeyExists(const std::wstring& path);
    bool KeyExistsSafe(const std::wstring& path, bool& success);
    // Deletes the key with all its values and subkeys in the selected view, making it
    // deletable for the current user first where needed. A missing key counts as deleted.
    // A path naming a root alone is refused (false).
    bool DeleteKey(const std::wstring& path);
    bool DeleteKeySafe(const std::wstring& path, bool& success);
    // Deletes one value; a missing value counts as deleted.
    bool DeleteValue(const std::wstring& path, const std::wstring& name);
    // True only when the key opens and has neither subkeys nor values (a set default value
    // counts as a value).
    bool KeyEmpty(const std::wstring& path);
    // Whether the value exists; true when the key does not open.
    bool ValueExists(const std::wstring& path, const std::wstring& name);
    // Writes a REG_SZ value when the key opens; raises ERegistryException when that fails.
    void WriteString(const std::wstring& path, const std::wstring& name, const std::wstring& value);
    // The kind of a value of the key open now.
    TRegDataType GetDataType(const std::wstring& name) const;

    TFilesAccessRights& AccessRights() { return *rights_; }

private:
    // Declared after the registry it refers to, so that it goes first.
    std::unique_ptr<TFilesAccessRights> rights_;
};

}  // namespace tidyhive
