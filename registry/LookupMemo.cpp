#include "registry/LookupMemo.h"

#include "registry/KeyHandleCache.h"
#include "services/Text.h"

#include <algorithm>

namespace tidyhive {
namespace {

thread_local TLookupMemoScope* tActiveScope = nullptr;

std::wstring MemoKey(REGSAM view, const std::wstring& path)
{
    return std::to_wstring(view & (KEY_WOW64_32KEY | KEY_WOW64_64KEY)) + L'|' + UpperCase(path);
}

template <class Answers>
std::optional<typename Answers::mapped_type> Kept(const Answers& answers, REGSAM view,
                                                  const std::wstring& path)
{
    const auto found = answers.find(MemoKey(view, path));
    if (found == answers.end()) {
        return std::nullopt;
    }
    return found->second;
}

}  // namespace

TLookupMemoScope::TLookupMemoScope() : owner_(tActiveScope == nullptr)
{
    if (owner_) {
        tActiveScope = this;
    }
}

TLookupMemoScope::~TLookupMemoScope()
{
    if (owner_) {
        for (TKeyHandleCache* cache : caches_) {
            cache->Release();
        }
        tActiveScope = nullptr;
    }
}

bool TLookupMemoScope::Active()
{
    return tActiveScope != nullptr;
}

bool TLookupMemoScope::Enlist(TKeyHandleCache* cache)
{
    if (!tActiveScope) {
        return false;
    }
    tActiveScope->caches_.push_back(cache);
    return true;
}

void TLookupMemoScope::Withdraw(TKeyHandleCache* cache)
{
    if (tActiveScope) {
        std::erase(tActiveScope->caches_, cache);
    }
}

std::optional<bool> TLookupMemoScope::KeyExists(REGSAM view, const std::wstring& path)
{
    return tActiveScope ? Kept(tActiveScope->answers_, view, path) : std::nullopt;
}

void TLookupMemoScope::RememberKeyExists(REGSAM view, const std::wstring& path, bool exists)
{
    if (tActiveScope) {
        tActiveScope->answers_[MemoKey(view, path)] = exists;
    }
}

std::optional<TLookupMemoScope::TKeyCounts> TLookupMemoScope::KeyCounts(REGSAM view, const std::wstring& path)
{
    return tActiveScope ? Kept(tActiveScope->counts_, view, path) : std::nullopt;
}

void TLookupMemoScope::RememberKeyCounts(REGSAM view, const std::wstring& path, TKeyCounts counts)
{
    if (tActiveScope) {
        tActiveScope->counts_[MemoKey(view, path)] = counts;
    }
}

}  // namespace tidyhive
