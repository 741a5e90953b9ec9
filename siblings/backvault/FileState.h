// Files kept in a session: a copy of the content with its attributes and times, and the
// state of a path as a restore compares it.
#pragma once

#include "siblings/backvault/Records.h"

#include <string>

namespace tidyhive::backvault {

// Attributes that SetFileAttributes can put back.
inline constexpr DWORD kSettableAttributes =
    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED |
    FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_TEMPORARY;

// The state of a path; with content, a file's size and checksum too. A missing path is
// kind Absent with ERROR_SUCCESS. Answers a Windows error code.
DWORD ReadFileState(const std::wstring &path, bool withContent, TFileState &state);

// Copies a file's content into keptCopy (a new file, flushed) and describes the file,
// its times taken before it was read. Answers a Windows error code.
DWORD KeepFile(const std::wstring &path, const std::wstring &keptCopy, TFileState &state);

// Whether the kept copy still holds what was kept (size and checksum).
DWORD CheckKeptFile(const std::wstring &keptCopy, const TFileState &state);

// Puts a kept file back at path, replacing what is there, with its times and attributes;
// creates missing folders. The kept copy is checked first. Answers a Windows error code.
DWORD PutBackFile(const std::wstring &keptCopy, const TFileState &state, const std::wstring &path);

// Creates a folder (and its parents) and gives it the recorded attributes and times.
DWORD PutBackDirectory(const TFileState &state, const std::wstring &path);

// Removes a file even when it is read-only.
DWORD RemoveFile(const std::wstring &path);

// Creates the missing folders of path (not the last name).
DWORD CreateParentFolders(const std::wstring &path);

} // namespace tidyhive::backvault
