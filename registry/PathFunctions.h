// Small path and text functions shared by the utilities' callers.
#pragma once

#include <string>
#include <string_view>

namespace tidyhive {

// Creates every missing folder of a file-system path, outermost first. Failures are ignored
// (the caller finds out when it writes); a bare drive ("C:") is never created.
void ForceFolders(const std::wstring& folder);

// The value of a named field in a flat text such as "v2.10|App=C:\a.exe|Name=A|": the text
// between the character after the name (the joining "=") and the next separator. The name is
// found case-insensitively; empty when it is absent. Without a closing separator the value
// runs to the end of the text.
std::wstring GetDelimitedField(std::wstring_view text, std::wstring_view name, std::wstring_view separator);

// The full path of an executable found in the current folder or a folder of PATH, trying the
// extensions of PATHEXT (".COM;.EXE;.BAT;.CMD" when unset) for a name without one; empty when
// none is found.
std::wstring SearchExecutableInPath(const std::wstring& fileName);

}  // namespace tidyhive
