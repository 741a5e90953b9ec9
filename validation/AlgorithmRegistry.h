// The registry access a validation algorithm owns: path-based calls (full paths that begin
// with a long root name such as "HKEY_CURRENT_USER") in one selectable registry view.
//
// TAlgorithmRegistry is the seam between the algorithms and the registry layer; the
// recorded registry utility stands behind it in the engine, and TWin32AlgorithmRegistry
// (plain wide-character registry calls, nothing recorded) wherever no backup is wanted.
#pragma once

#include "registry/KeyHandleCache.h"

#include <windows.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace tidyhive {

// A registry call failed for another reason than "not there".
class EAlgorithmRegistryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TAlgorithmRegistry {
public:
    virtual ~TAlgorithmRegistry() = default;

    // Works on the 64-bit view (true) or the 32-bit view (false); on a 32-bit system the
    // request is ignored and the view stays the 32-bit one.
    virtual void Set64BitView(bool value) = 0;
    virtual bool Is64BitView() const = 0;

    // Whether the key opens in the selected view. Throws EAlgorithmRegistryError when the
    // answer cannot be had (an unknown root, an error other than "not found").
    virtual bool KeyExists(const std::wstring& path) = 0;

    // Whether the key opens in the 32-bit or in the 64-bit view: what a reference needs to
    // be alive, wherever the scan found it. Throws as KeyExists does.
    virtual bool KeyExistsInEitherView(const std::wstring& path) { return KeyExists(path); }

    // The "safe" calls never throw: success reports whether the call itself worked (a
    // missing key is a successful negative answer); on failure the result is false or
    // empty and the reason is in the debug log. Lists are cleared first.
    virtual bool KeyExistsSafe(const std::wstring& path, bool& success) = 0;
    // True and the names when the key opens; false when it does not.
    // How many subkeys and values the key holds, without listing them; true when it opens.
    virtual bool GetKeyCountsSafe(const std::wstring& path, DWORD& subKeys, DWORD& values, bool& success)
    {
        std::vector<std::wstring> names;
        subKeys = values = 0;
        if (!GetKeyNamesSafe(path, names, success) || !success) {
            return false;
        }
        subKeys = static_cast<DWORD>(names.size());
        if (!GetValueNamesSafe(path, names, success) || !success) {
            return false;
        }
        values = static_cast<DWORD>(names.size());
        return true;
    }
    virtual bool GetKeyNamesSafe(const std::wstring& path, std::vector<std::wstring>& names,
                                 bool& success) = 0;
    virtual bool GetValueNamesSafe(const std::wstring& path, std::vector<std::wstring>& names,
                                   bool& success) = 0;
    // True and the value's type (REG_SZ ...) when the key opens and holds the value.
    virtual bool GetValueTypeSafe(const std::wstring& path, const std::wstring& name, DWORD& type,
                                  bool& success) = 0;
    // The text of a string or expandable-string value; empty for any other type or none.
    virtual std::wstring ReadStringSafe(const std::wstring& path, const std::wstring& name,
                                        bool& success) = 0;
    // Deletes the key with everything below it; a key that is not there counts as deleted.
    // A bare root is never deleted.
    virtual bool DeleteKeySafe(const std::wstring& path, bool& success) = 0;

    // Plain calls for the fixes of derived algorithms; they throw EAlgorithmRegistryError.
    // A value that is not there counts as deleted.
    virtual bool DeleteValue(const std::wstring& path, const std::wstring& name) = 0;
    virtual bool ValueExists(const std::wstring& path, const std::wstring& name) = 0;
    virtual void WriteString(const std::wstring& path, const std::wstring& name,
                             const std::wstring& text) = 0;

    // How many changes (a key or value deleted, a value written) were made through this
    // object; deleting what was not there is no change. The after-fix clean-up runs only
    // when a fix changed something.
    virtual unsigned long ChangeCount() const = 0;
};

// Plain wide-character registry calls on the selected view (KEY_WOW64_32KEY or
// KEY_WOW64_64KEY explicitly, so both builds address the same view).
class TWin32AlgorithmRegistry : public TAlgorithmRegistry {
public:
    TWin32AlgorithmRegistry() = default;

    void Set64BitView(bool value) override;
    bool Is64BitView() const override { return view64_; }
    bool KeyExists(const std::wstring& path) override;
    bool KeyExistsInEitherView(const std::wstring& path) override;
    bool KeyExistsSafe(const std::wstring& path, bool& success) override;
    bool GetKeyCountsSafe(const std::wstring& path, DWORD& subKeys, DWORD& values, bool& success) override;
    bool GetKeyNamesSafe(const std::wstring& path, std::vector<std::wstring>& names, bool& success) override;
    bool GetValueNamesSafe(const std::wstring& path, std::vector<std::wstring>& names,
                           bool& success) override;
    bool GetValueTypeSafe(const std::wstring& path, const std::wstring& name, DWORD& type,
                          bool& success) override;
    std::wstring ReadStringSafe(const std::wstring& path, const std::wstring& name, bool& success) override;
    bool DeleteKeySafe(const std::wstring& path, bool& success) override;
    bool DeleteValue(const std::wstring& path, const std::wstring& name) override;
    bool ValueExists(const std::wstring& path, const std::wstring& name) override;
    void WriteString(const std::wstring& path, const std::wstring& name, const std::wstring& text) override;
    unsigned long ChangeCount() const override { return changes_; }

private:
    REGSAM ViewFlag() const { return view64_ ? KEY_WOW64_64KEY : KEY_WOW64_32KEY; }
    bool KeyExistsInView(const std::wstring& path, REGSAM view);

    bool view64_ = false;
    unsigned long changes_ = 0;
    TKeyHandleCache cache_;
};

// The registry access each algorithm owns unless it is given one.
std::unique_ptr<TAlgorithmRegistry> CreateAlgorithmRegistry();

// Whether the operating system is 64-bit (a 32-bit process under WOW64, or a 64-bit
// process): only then do the two registry views and file-system redirection exist.
bool OsHasTwoRegistryViews();

}  // namespace tidyhive
