// TLookupMemoScope: answers to "is this key there?" kept for the length of one scan.
//
// A scan asks about the same referenced keys (an application, a class) thousands of times.
// While a scope is open on a thread, each answer given on that thread is kept and given again
// for the rest of the scope: the scan judges every reference against the registry as it
// stood when the reference was first looked at. Fixes run outside any scope and look afresh.
// The key handles a scan keeps open (TKeyHandleCache) live only as long as its scope too, so
// that no handle into a user's hive outlasts the scan.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace tidyhive {

class TKeyHandleCache;

class TLookupMemoScope {
public:
    // Opens a scope on this thread unless one is open already (the outer one then serves).
    TLookupMemoScope();
    ~TLookupMemoScope();
    TLookupMemoScope(const TLookupMemoScope&) = delete;
    TLookupMemoScope& operator=(const TLookupMemoScope&) = delete;

    // The kept answer for the key in the view (compared without case); nothing when no scope
    // is open or the key was not looked at yet.
    static std::optional<bool> KeyExists(REGSAM view, const std::wstring& path);
    static void RememberKeyExists(REGSAM view, const std::wstring& path, bool exists);

    struct TKeyCounts {
        DWORD subKeys;
        DWORD values;
    };
    // How many subkeys and values a key held when the scan's own walk read it.
    static std::optional<TKeyCounts> KeyCounts(REGSAM view, const std::wstring& path);
    static void RememberKeyCounts(REGSAM view, const std::wstring& path, TKeyCounts counts);

    // Whether a scope is open on this thread.
    static bool Active();
    // The cache's handles are closed when this thread's scope ends (false: no scope is open).
    static bool Enlist(TKeyHandleCache* cache);
    // A cache that goes before the scope ends.
    static void Withdraw(TKeyHandleCache* cache);

private:
    std::vector<TKeyHandleCache*> caches_;
    std::unordered_map<std::wstring, bool> answers_;
    std::unordered_map<std::wstring, TKeyCounts> counts_;
    bool owner_;
};

}  // namespace tidyhive
