#include "registry/KeyHandleCache.h"

#include "registry/LookupMemo.h"
#include "services/Text.h"

#include <algorithm>

namespace tidyhive {
namespace {

// Where each level of a path ends; empty when the path has an empty level (leading,
// trailing or doubled backslash), which is left to the registry to judge as a whole.
std::vector<std::size_t> LevelEnds(const std::wstring& path)
{
    std::vector<std::size_t> ends;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = path.find(L'\\', start);
        const std::size_t stop = end == std::wstring::npos ? path.size() : end;
        if (stop == start) {
            return {};
        }
        ends.push_back(stop);
        if (end == std::wstring::npos) {
            return ends;
        }
        start = end + 1;
    }
}

}  // namespace

TKeyHandleCache::TEntry* TKeyHandleCache::Find(HKEY root, REGSAM access, const std::wstring& foldedPath)
{
    for (TEntry& entry : entries_) {
        if (entry.root == root && entry.access == access && entry.foldedPath == foldedPath) {
            entry.lastUse = ++clock_;
            return &entry;
        }
    }
    return nullptr;
}

void TKeyHandleCache::Remember(HKEY root, REGSAM access, std::wstring foldedPath, HKEY owned)
{
    if (capacity_ == 0) {
        RegCloseKey(owned);
        return;
    }
    if (entries_.size() >= capacity_) {
        entries_.erase(
            std::min_element(entries_.begin(), entries_.end(),
                             [](const TEntry& a, const TEntry& b) { return a.lastUse < b.lastUse; }));
    }
    entries_.push_back(TEntry{root, access, std::move(foldedPath), TRegKey(owned), ++clock_});
}

TKeyHandleCache::~TKeyHandleCache()
{
    if (enlisted_) {
        TLookupMemoScope::Withdraw(this);
    }
}

void TKeyHandleCache::Release()
{
    enlisted_ = false;
    Clear();
}

LONG TKeyHandleCache::Open(HKEY root, const std::wstring& path, REGSAM access, HKEY& result)
{
    result = nullptr;
    if (!enlisted_) {
        enlisted_ = TLookupMemoScope::Enlist(this);
    }
    const std::vector<std::size_t> ends = LevelEnds(path);
    if (!enlisted_ || ends.empty()) {
        return RegOpenKeyExW(root, path.c_str(), 0, access, &result);
    }
    const std::wstring folded = UpperCase(path);

    // The deepest ancestor at hand (the key itself counts: it is then opened once more).
    std::size_t level = ends.size();
    HKEY base = root;
    TEntry* cached = nullptr;
    for (; level > 0; --level) {
        cached = Find(root, access, folded.substr(0, ends[level - 1]));
        if (cached) {
            base = cached->key.Get();
            break;
        }
    }
    const bool fromCache = cached != nullptr;

    // Each level below it, remembered on the way, down to the parent of the key.
    std::size_t start = level == 0 ? 0 : ends[level - 1] + 1;
    LONG status = ERROR_SUCCESS;
    for (; level + 1 < ends.size(); ++level) {
        HKEY opened = nullptr;
        status = RegOpenKeyExW(base, path.substr(start, ends[level] - start).c_str(), 0, access, &opened);
        if (status != ERROR_SUCCESS) {
            break;
        }
        Remember(root, access, folded.substr(0, ends[level]), opened);
        base = opened;
        start = ends[level] + 1;
    }
    if (status == ERROR_SUCCESS) {
        const std::wstring last = level < ends.size() ? path.substr(start) : std::wstring();
        status = RegOpenKeyExW(base, last.c_str(), 0, access, &result);
    }
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) {
        // A level missing below a live ancestor: the path does not exist.
        if (status != ERROR_SUCCESS) {
            result = nullptr;
        }
        return status;
    }
    // A deleted ancestor, or a level this access cannot pass: the registry judges the path
    // as a whole.
    result = nullptr;
    if (fromCache) {
        Clear();
    }
    return RegOpenKeyExW(root, path.c_str(), 0, access, &result);
}

}  // namespace tidyhive
