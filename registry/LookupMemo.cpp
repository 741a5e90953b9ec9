#include "registry/LookupMemo.h"

#include "services/Text.h"

namespace tidyhive {
namespace {

thread_local TLookupMemoScope* tActiveScope = nullptr;

std::wstring MemoKey(REGSAM view, const std::wstring& path)
{
    return std::to_wstring(view & (KEY_WOW64_32KEY | KEY_WOW64_64KEY)) + L'|' + UpperCase(path);
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
        tActiveScope = nullptr;
    }
}

std::optional<bool> TLookupMemoScope::KeyExists(REGSAM view, const std::wstring& path)
{
    if (!tActiveScope) {
        return std::nullopt;
    }
    const auto found = tActiveScope->answers_.find(MemoKey(view, path));
    if (found == tActiveScope->answers_.end()) {
        return std::nullopt;
    }
    return found->second;
}

void TLookupMemoScope::RememberKeyExists(REGSAM view, const std::wstring& path, bool exists)
{
    if (tActiveScope) {
        tActiveScope->answers_[MemoKey(view, path)] = exists;
    }
}

std::optional<TLookupMemoScope::TKeyCounts> TLookupMemoScope::KeyCounts(REGSAM view, const std::wstring& path)
{
    if (!tActiveScope) {
        return std::nullopt;
    }
    const auto found = tActiveScope->counts_.find(MemoKey(view, path));
    if (found == tActiveScope->counts_.end()) {
        return std::nullopt;
    }
    return found->second;
}

void TLookupMemoScope::RememberKeyCounts(REGSAM view, const std::wstring& path, TKeyCounts counts)
{
    if (tActiveScope) {
        tActiveScope->counts_[MemoKey(view, path)] = counts;
    }
}

}  // namespace tidyhive
