#include "siblings/backvault/FileState.h"

#include "siblings/backvault/ByteCodec.h"
#include "siblings/backvault/Win32Owners.h"

#include <algorithm>

namespace tidyhive::backvault {
namespace {

constexpr DWORD kChunk = 1u << 16;

uint64_t FromFileTime(const FILETIME &time)
{
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

FILETIME ToFileTime(uint64_t value)
{
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(value & 0xFFFFFFFFu);
    time.dwHighDateTime = static_cast<DWORD>(value >> 32);
    return time;
}

DWORD Describe(HANDLE file, TFileState &state)
{
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!GetFileInformationByHandle(file, &information)) {
        return GetLastError();
    }
    state.kind =
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? TFileKind::Directory : TFileKind::File;
    state.attributes = information.dwFileAttributes;
    state.creationTime = FromFileTime(information.ftCreationTime);
    state.accessTime = FromFileTime(information.ftLastAccessTime);
    state.writeTime = FromFileTime(information.ftLastWriteTime);
    state.size = state.kind == TFileKind::File
                     ? (static_cast<uint64_t>(information.nFileSizeHigh) << 32) | information.nFileSizeLow
                     : 0;
    return ERROR_SUCCESS;
}

// Reads the whole file, passing each chunk on; answers the byte count and checksum.
template <class Sink> DWORD ReadAll(HANDLE file, uint64_t &size, uint32_t &crc, Sink &&sink)
{
    std::vector<uint8_t> buffer(kChunk);
    size = 0;
    crc = 0;
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file, buffer.data(), kChunk, &read, nullptr)) {
            return GetLastError();
        }
        if (read == 0) {
            return ERROR_SUCCESS;
        }
        crc = Crc32(buffer.data(), read, crc);
        size += read;
        const DWORD status = sink(buffer.data(), read);
        if (status != ERROR_SUCCESS) {
            return status;
        }
    }
}

DWORD WriteAll(HANDLE file, const uint8_t *data, DWORD size)
{
    DWORD done = 0;
    while (done < size) {
        DWORD written = 0;
        if (!WriteFile(file, data + done, size - done, &written, nullptr)) {
            return GetLastError();
        }
        if (written == 0) {
            return ERROR_WRITE_FAULT;
        }
        done += written;
    }
    return ERROR_SUCCESS;
}

HANDLE OpenForReading(const std::wstring &path, DWORD flags = 0)
{
    return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN | flags, nullptr);
}

DWORD SetTimes(HANDLE file, const TFileState &state)
{
    const FILETIME creation = ToFileTime(state.creationTime);
    const FILETIME access = ToFileTime(state.accessTime);
    const FILETIME write = ToFileTime(state.writeTime);
    return SetFileTime(file, &creation, &access, &write) ? ERROR_SUCCESS : GetLastError();
}

DWORD SetAttributes(const std::wstring &path, DWORD attributes)
{
    const DWORD settable = attributes & kSettableAttributes;
    return SetFileAttributesW(path.c_str(), settable ? settable : FILE_ATTRIBUTE_NORMAL) ? ERROR_SUCCESS
                                                                                         : GetLastError();
}

} // namespace

DWORD ReadFileState(const std::wstring &path, bool withContent, TFileState &state)
{
    TFileState result;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            state = result;
            return ERROR_SUCCESS;
        }
        return error;
    }
    const bool directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    TFileHandle file(OpenForReading(path, directory ? FILE_FLAG_BACKUP_SEMANTICS : 0));
    if (!file) {
        return GetLastError();
    }
    DWORD status = Describe(file.get(), result);
    if (status == ERROR_SUCCESS && withContent && result.kind == TFileKind::File) {
        uint64_t size = 0;
        status = ReadAll(file.get(), size, result.crc,
                         [](const uint8_t *, DWORD) { return DWORD(ERROR_SUCCESS); });
        result.size = size;
    }
    if (status == ERROR_SUCCESS) {
        state = result;
    }
    return status;
}

DWORD KeepFile(const std::wstring &path, const std::wstring &keptCopy, TFileState &state)
{
    TFileHandle source(OpenForReading(path));
    if (!source) {
        return GetLastError();
    }
    TFileState result;
    DWORD status = Describe(source.get(), result);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (result.kind != TFileKind::File) {
        return ERROR_ACCESS_DENIED; // as DeleteFile answers for a folder
    }
    TFileHandle copy(CreateFileW(keptCopy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!copy) {
        return GetLastError();
    }
    uint64_t size = 0;
    status = ReadAll(source.get(), size, result.crc,
                     [&](const uint8_t *data, DWORD length) { return WriteAll(copy.get(), data, length); });
    if (status == ERROR_SUCCESS && !FlushFileBuffers(copy.get())) {
        status = GetLastError();
    }
    if (status != ERROR_SUCCESS) {
        copy.Reset();
        DeleteFileW(keptCopy.c_str());
        return status;
    }
    result.size = size;
    state = result;
    return ERROR_SUCCESS;
}

DWORD CheckKeptFile(const std::wstring &keptCopy, const TFileState &state)
{
    TFileHandle copy(OpenForReading(keptCopy));
    if (!copy) {
        return GetLastError();
    }
    uint64_t size = 0;
    uint32_t crc = 0;
    const DWORD status =
        ReadAll(copy.get(), size, crc, [](const uint8_t *, DWORD) { return DWORD(ERROR_SUCCESS); });
    if (status != ERROR_SUCCESS) {
        return status;
    }
    return size == state.size && crc == state.crc ? ERROR_SUCCESS : ERROR_FILE_CORRUPT;
}

DWORD CreateParentFolders(const std::wstring &path)
{
    const size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos || slash == 0) {
        return ERROR_SUCCESS;
    }
    const std::wstring parent = path.substr(0, slash);
    const DWORD attributes = GetFileAttributesW(parent.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? ERROR_SUCCESS : ERROR_DIRECTORY;
    }
    if (parent.size() <= 3 && parent.size() >= 2 && parent[1] == L':') {
        return ERROR_PATH_NOT_FOUND; // a drive that is not there
    }
    const DWORD status = CreateParentFolders(parent);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (!CreateDirectoryW(parent.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        return GetLastError();
    }
    return ERROR_SUCCESS;
}

DWORD RemoveFile(const std::wstring &path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    }
    if (DeleteFileW(path.c_str())) {
        return ERROR_SUCCESS;
    }
    const DWORD error = GetLastError();
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        SetFileAttributesW(path.c_str(), attributes);
    }
    return error;
}

DWORD PutBackFile(const std::wstring &keptCopy, const TFileState &state, const std::wstring &path)
{
    DWORD status = CheckKeptFile(keptCopy, state);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    status = CreateParentFolders(path);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    const DWORD existing = GetFileAttributesW(path.c_str());
    if (existing != INVALID_FILE_ATTRIBUTES) {
        if (existing & FILE_ATTRIBUTE_DIRECTORY) {
            return ERROR_DIRECTORY;
        }
        // CREATE_ALWAYS refuses to replace a hidden, system or read-only file.
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    TFileHandle copy(OpenForReading(keptCopy));
    if (!copy) {
        return GetLastError();
    }
    TFileHandle target(CreateFileW(path.c_str(), GENERIC_WRITE | FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!target) {
        return GetLastError();
    }
    uint64_t size = 0;
    uint32_t crc = 0;
    status = ReadAll(copy.get(), size, crc,
                     [&](const uint8_t *data, DWORD length) { return WriteAll(target.get(), data, length); });
    if (status == ERROR_SUCCESS && (size != state.size || crc != state.crc)) {
        status = ERROR_FILE_CORRUPT; // the kept copy changed between the check and the copy
    }
    if (status == ERROR_SUCCESS) {
        status = SetTimes(target.get(), state);
    }
    target.Reset();
    if (status == ERROR_SUCCESS) {
        status = SetAttributes(path, state.attributes);
    }
    return status;
}

DWORD PutBackDirectory(const TFileState &state, const std::wstring &path)
{
    DWORD status = CreateParentFolders(path);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        return GetLastError();
    }
    TFileHandle folder(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (folder) {
        status = SetTimes(folder.get(), state);
        folder.Reset();
    }
    const DWORD attributes = status == ERROR_SUCCESS ? SetAttributes(path, state.attributes) : status;
    return attributes;
}

} // namespace tidyhive::backvault
