// IFileAccess: file operations, each recorded in the open session before it is made. A
// file that an operation removes or replaces is kept in the session first.
#pragma once

#include "siblings/common/SiblingObject.h"
#include "tidyhive/Backvault.h"

namespace tidyhive::siblings {
TIDYHIVE_SIBLING_INTERFACE(IFileAccess, IID_IFileAccess);
}

namespace tidyhive::backvault {

class TFileAccess : public siblings::TSiblingObject<IFileAccess> {
public:
    BOOL STDMETHODCALLTYPE CopyFile(LPCWSTR existing, LPCWSTR target, BOOL failIfExists) override;
    BOOL STDMETHODCALLTYPE MoveFile(LPCWSTR existing, LPCWSTR target) override;
    BOOL STDMETHODCALLTYPE CreateDirectory(LPCWSTR path) override;
    // Removes the file, read-only or not, after keeping its content, attributes and times.
    BOOL STDMETHODCALLTYPE DeleteFile(LPCWSTR path) override;
    BOOL STDMETHODCALLTYPE RemoveDirectory(LPCWSTR path) override;
    BOOL STDMETHODCALLTYPE SetFileAttributes(LPCWSTR path, DWORD attributes) override;
    // The Windows error code of this thread's last failed call above.
    DWORD STDMETHODCALLTYPE GetLastError() override;
};

} // namespace tidyhive::backvault
