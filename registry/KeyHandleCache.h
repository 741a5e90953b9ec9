// TKeyHandleCache: opens deep registry paths one level at a time from the nearest ancestor
// opened before, for plain reads that change nothing.
//
// Opening a path from its root makes the registry walk every level again, with a
// redirection probe per level on 64-bit systems; a scan opens thousands of neighbouring
// keys, so that walk dominates its cost. The cache keeps the last few ancestors open and
// opens the rest of a path below them. An ancestor that went away since (its key deleted)
// is dropped and the path is opened from its root, so every answer is the one the plain
// open would give. Handles are kept for the length of one scan only.
#pragma once

#include "registry/RegKey.h"

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

namespace tidyhive {

class TKeyHandleCache {
public:
    explicit TKeyHandleCache(std::size_t capacity = 16) : capacity_(capacity) {}
    ~TKeyHandleCache();
    TKeyHandleCache(const TKeyHandleCache&) = delete;
    TKeyHandleCache& operator=(const TKeyHandleCache&) = delete;

    // As RegOpenKeyExW (root, path, access): the Windows error code, and on success a handle
    // of the caller's own in result (null after a failure). Ancestors are kept open only
    // while a scan's scope (TLookupMemoScope) is open on this thread; outside one, every
    // path is opened whole.
    LONG Open(HKEY root, const std::wstring& path, REGSAM access, HKEY& result);
    void Clear() { entries_.clear(); }
    std::size_t Size() const { return entries_.size(); }
    // The scope ends: every kept handle is closed.
    void Release();

private:
    struct TEntry {
        HKEY root;
        REGSAM access;
        std::wstring foldedPath;  // upper case: the registry compares names without case
        TRegKey key;
        unsigned long long lastUse;
    };

    TEntry* Find(HKEY root, REGSAM access, const std::wstring& foldedPath);
    void Remember(HKEY root, REGSAM access, std::wstring foldedPath, HKEY owned);

    std::size_t capacity_;
    std::vector<TEntry> entries_;
    bool enlisted_ = false;
    unsigned long long clock_ = 0;
};

}  // namespace tidyhive
