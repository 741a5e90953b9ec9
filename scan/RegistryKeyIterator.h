// TRegistryKeyIterator: expands a root key and a key pattern into every existing key the
// pattern selects, depth first, and hands each full path to a callback.
//
// A pattern is a "\"-separated list of elements: literal key names, opened directly, and
// groups "<![expression]>", matched case-insensitively (unanchored) against the subkey
// names at that level. A "\" inside a group does not separate elements.
#pragma once

#include "registry/RegistryUtility.h"
#include "services/PerlRegEx.h"

#include <functional>
#include <string>

namespace tidyhive {

using TKeyCallback = std::function<void(const std::wstring&)>;

class TRegistryKeyIterator {
public:
    // Reads through its own read-only registry utility, in the 64-bit view when
    // use64BitView is set (on a 64-bit system).
    TRegistryKeyIterator(const std::wstring& rootKey, TKeyCallback onKey, bool use64BitView,
                         const std::wstring& pattern);
    TRegistryKeyIterator(const TRegistryKeyIterator&) = delete;
    TRegistryKeyIterator& operator=(const TRegistryKeyIterator&) = delete;

    // Calls OnKey once per selected key, synchronously. Exceptions of OnKey pass unchanged;
    // an invalid group expression raises EPerlRegEx.
    void Iterate();

    // Removes the first element and its separator from pattern and answers the element.
    static std::wstring SplitFirstElement(std::wstring& pattern);
    // Whether element is a group; expression receives the text between "<![" and "]>".
    static bool IsGroup(const std::wstring& element, std::wstring& expression);

private:
    // listed: the key was just listed by its parent, so it is known to exist.
    void Walk(std::wstring pattern, const std::wstring& key, bool listed = false);

    TStdRegistryUtility registry_;
    std::wstring rootKey_;
    std::wstring pattern_;
    TKeyCallback onKey_;
    TPerlRegEx expression_;
};

}  // namespace tidyhive
