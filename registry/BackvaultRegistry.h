// TBackvaultRegistry: one open key at a time below a root, reached through a route
// (TRegAccessRoute). Created with the backup library, every open, change and close is
// recorded in the backup session; reads on an open key call the platform functions on the
// handle directly. Created without one, it is the plain registry (the read route).
#pragma once

#include "registry/KeyHandleCache.h"
#include "registry/RegAccessRoute.h"
#include "tidyhive/Backvault.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tidyhive {

inline constexpr REGSAM kExistenceProbe32 =
    READ_CONTROL | KEY_WOW64_32KEY | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE;
inline constexpr REGSAM kExistenceProbe64 =
    READ_CONTROL | KEY_WOW64_64KEY | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE;

struct TRegKeyInfo {
    DWORD numSubKeys = 0;
    DWORD maxSubKeyLen = 0;
    DWORD numValues = 0;
    DWORD maxValueLen = 0;
    DWORD maxDataLen = 0;
    FILETIME fileTime = {};
};

enum class TRegDataType : std::uint8_t {
    rdUnknown = 0,
    rdString = 1,
    rdMultiString = 2,  // read only: written as REG_NONE
    rdExpandString = 3,
    rdInteger = 4,
    rdBinary = 5,
};

struct TRegDataInfo {
    TRegDataType regData = TRegDataType::rdUnknown;
    DWORD dataSize = 0;  // bytes
};

TRegDataType DataTypeFromRegType(DWORD type);
DWORD RegTypeFromDataType(TRegDataType type);

using TNameList = std::vector<std::wstring>;

// A value with its text: string kinds (REG_SZ, REG_EXPAND_SZ) give it, cut at the first zero;
// every other kind gives the empty text.
struct TValueText {
    std::wstring name;
    std::wstring text;
};
using TValueTextList = std::vector<TValueText>;

class TBackvaultRegistry {
public:
    // With a backup library, its registry access (slot 3) carries every change; without one,
    // or when it answers none, the plain registry functions do.
    explicit TBackvaultRegistry(IBackvault* backup, REGSAM access = KEY_ALL_ACCESS);
    ~TBackvaultRegistry();
    TBackvaultRegistry(const TBackvaultRegistry&) = delete;
    TBackvaultRegistry& operator=(const TBackvaultRegistry&) = delete;

    const TRegAccessRoute& Route() const { return route_; }
    bool Recorded() const { return route_.Recorded(); }

    HKEY RootKey() const { return rootKey_; }
    // Closes the open key when the root changes.
    void SetRootKey(HKEY root);
    HKEY CurrentKey() const { return currentKey_.Get(); }
    // The open key's path relative to the root; empty when none is open.
    const std::wstring& CurrentPath() const { return currentPath_; }
    REGSAM Access() const { return access_; }
    void SetAccess(REGSAM access) { access_ = access; }
    bool LazyWrite() const { return lazyWrite_; }

    void CloseKey();
    // The open key for a relative key, else the root.
    HKEY GetBaseKey(bool relative) const;
    // Opens key (a leading backslash makes it absolute, below the root) with the current
    // access; an empty owner when it does not open.
    TRoutedKey GetKey(const std::wstring& key) const;
    // Opens (or, with canCreate, creates) key and makes it the open key. On failure the
    // previously open key stays open.
    bool OpenKey(const std::wstring& key, bool canCreate);
    // Whether key opens in the 32-bit or in the 64-bit view.
    bool KeyExists(const std::wstring& key);
    // Deletes key with everything below it, value by value and subkey by subkey, so that the
    // backup library records each removal. A key whose values cannot all be removed stays,
    // while subkeys already deleted stay deleted. An empty key (the base key itself) is
    // refused: the base key cannot be deleted, only emptied.
    bool DeleteKey(const std::wstring& key);
    bool DeleteValue(const std::wstring& name);

    // Reads on the open key. info is zeroed first; false when no key is open or the query fails.
    bool GetKeyInfo(TRegKeyInfo& info) const;
    // Clear the list, then add every name; a single failed enumeration step is skipped.
    void GetKeyNames(TNameList& names) const;
    void GetValueNames(TNameList& names) const;
    // Every value with its text in one pass over the open key (cleared first); a single
    // failed step is skipped.
    void GetValueTexts(TValueTextList& values) const;
    // Subkey names and values with their texts, measured once.
    void GetContent(TNameList& names, TValueTextList& values) const;
    bool GetDataInfo(const std::wstring& name, TRegDataInfo& info) const;
    // Bytes, or -1 when the value cannot be queried.
    long long GetDataSize(const std::wstring& name) const;
    TRegDataType GetDataType(const std::wstring& name) const;
    bool ValueExists(const std::wstring& name) const;
    // The text of a REG_SZ or REG_EXPAND_SZ value, cut at its first zero; empty for no data.
    // Raises ERegistryException when the data cannot be read or is of another kind.
    std::wstring ReadString(const std::wstring& name) const;
    // The text of a string value (REG_SZ or REG_EXPAND_SZ, cut at its first zero) in one
    // read when it fits a small buffer. Empty for a value that is missing, cannot be queried or
    // holds another kind; raises ERegistryException only when a value that grew between two
    // reads cannot be read again.
    std::wstring ReadStringIfString(const std::wstring& name) const;
    // Writes a REG_SZ value; raises ERegistryException when that fails.
    void WriteString(const std::wstring& name, const std::wstring& value);

private:
    void ReadValueTexts(const TRegKeyInfo& info, TValueTextList& values) const;
    bool DeleteTree(HKEY parent, const std::wstring& key);

    TRegAccessRoute route_;
    TRoutedKey currentKey_;
    HKEY rootKey_ = HKEY_CURRENT_USER;
    bool lazyWrite_ = true;  // closing never flushes
    std::wstring currentPath_;
    REGSAM access_;
    // Keys opened for reading through the plain registry open below ancestors kept open.
    TKeyHandleCache readCache_;
};

// Names of a key's subkeys or values, read with the plain functions on any open handle.
bool QueryKeyInfo(HKEY key, TRegKeyInfo& info);
void EnumKeyNames(HKEY key, const TRegKeyInfo& info, TNameList& names);
void EnumValueNames(HKEY key, const TRegKeyInfo& info, TNameList& names);

}  // namespace tidyhive
