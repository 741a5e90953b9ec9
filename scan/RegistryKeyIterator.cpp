#include "scan/RegistryKeyIterator.h"

#include "registry/Wow64.h"
#include "services/Text.h"

#include <utility>
#include <vector>

namespace tidyhive {
namespace {

const std::wstring kGroupOpen = L"<![";
const std::wstring kGroupClose = L"]>";

bool SelectsEverything(const std::wstring& expression)
{
    return expression == L".+" || expression == L".*";
}

std::wstring JoinKey(const std::wstring& key, const std::wstring& name)
{
    if (!key.empty() && key.back() == L'\\') {
        return key + name;
    }
    return key + L'\\' + name;
}

}  // namespace

TRegistryKeyIterator::TRegistryKeyIterator(const std::wstring& rootKey, TKeyCallback onKey, bool use64BitView,
                                           const std::wstring& pattern)
    : rootKey_(rootKey), pattern_(pattern), onKey_(std::move(onKey)), expression_(kEngineRegExOptions)
{
    registry_.Set64BitView(use64BitView);
    expression_.SetMatchFlags(preNotEmpty);
}

void TRegistryKeyIterator::Iterate()
{
    if (onKey_) {
        Walk(pattern_, rootKey_);
    }
}

std::wstring TRegistryKeyIterator::SplitFirstElement(std::wstring& pattern)
{
    size_t b = pattern.find(L'\\');
    if (b == std::wstring::npos) {
        return std::exchange(pattern, std::wstring());
    }
    const size_t o = pattern.find(kGroupOpen);
    const size_t c = pattern.find(kGroupClose);
    if (o != std::wstring::npos && c != std::wstring::npos && c > o && b > o) {
        // The backslash belongs to the group's expression: the element ends at the first
        // separator after the group's end.
        while (b != std::wstring::npos && b < c) {
            b = pattern.find(L'\\', b + 1);
        }
    }
    if (b == std::wstring::npos) {
        return std::exchange(pattern, std::wstring());
    }
    std::wstring element = pattern.substr(0, b);
    pattern.erase(0, b + 1);
    return element;
}

bool TRegistryKeyIterator::IsGroup(const std::wstring& element, std::wstring& expression)
{
    if (element.compare(0, kGroupOpen.size(), kGroupOpen) != 0) {
        return false;
    }
    const size_t close = element.find(kGroupClose, kGroupOpen.size());
    if (close == std::wstring::npos) {
        return false;
    }
    expression = element.substr(kGroupOpen.size(), close - kGroupOpen.size());
    return true;
}

void TRegistryKeyIterator::Walk(std::wstring pattern, const std::wstring& key, bool listed)
{
    if (pattern.empty()) {
        // One that vanishes in between is found missing by the callback's own reads.
        if (listed || registry_.KeyExists(key)) {
            onKey_(key);
        }
        return;
    }
    const std::wstring element = SplitFirstElement(pattern);
    std::wstring expression;
    if (IsGroup(element, expression)) {
        const bool everything = SelectsEverything(expression);
        if (!everything) {
            expression_.SetRegEx(expression);
        }
        std::vector<std::wstring> names;
        bool success = false;
        if (!registry_.GetKeyNamesSafe(key, names, success) || !success) {
            return;
        }
        const bool skipWow64Node = IsWow64();
        for (const std::wstring& name : names) {
            if (!everything) {
                expression_.SetSubject(name);
                if (!expression_.Match()) {
                    continue;
                }
            }
            if (skipWow64Node && SameText(name, L"Wow6432Node")) {
                continue;
            }
            Walk(pattern, JoinKey(key, name), true);
            if (!everything) {
                expression_.SetRegEx(expression);  // a deeper group may have replaced it
            }
        }
        return;
    }
    // A leading (or doubled) separator gives an empty element: it names no key of its own.
    if (element.empty()) {
        Walk(std::move(pattern), key);
        return;
    }
    const std::wstring child = JoinKey(key, element);
    if (registry_.KeyExists(child)) {
        Walk(std::move(pattern), child);
    }
}

}  // namespace tidyhive
