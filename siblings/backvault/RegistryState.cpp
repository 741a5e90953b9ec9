#include "siblings/backvault/RegistryState.h"

#include <sddl.h>

#include <algorithm>
#include <cwctype>

namespace tidyhive::backvault {
namespace {

constexpr int kMaxKeyDepth = 512;

struct TRootName {
    HKEY handle;
    const wchar_t *name;
};

const TRootName kRoots[] = {
    {HKEY_CLASSES_ROOT, L"HKEY_CLASSES_ROOT"},
    {HKEY_CURRENT_USER, L"HKEY_CURRENT_USER"},
    {HKEY_LOCAL_MACHINE, L"HKEY_LOCAL_MACHINE"},
    {HKEY_USERS, L"HKEY_USERS"},
    {HKEY_PERFORMANCE_DATA, L"HKEY_PERFORMANCE_DATA"},
    {HKEY_CURRENT_CONFIG, L"HKEY_CURRENT_CONFIG"},
    {HKEY_DYN_DATA, L"HKEY_DYN_DATA"},
};

REGSAM WithView(REGSAM access, const TRegLocation &location)
{
    return access | location.view;
}

bool EqualAcl(PACL left, PACL right)
{
    if (!left || !right) {
        return left == right;
    }
    if (left->AceCount != right->AceCount) {
        return false;
    }
    for (DWORD index = 0; index < left->AceCount; ++index) {
        void *leftAce = nullptr;
        void *rightAce = nullptr;
        if (!GetAce(left, index, &leftAce) || !GetAce(right, index, &rightAce)) {
            return false;
        }
        const auto *leftHeader = static_cast<const ACE_HEADER *>(leftAce);
        const auto *rightHeader = static_cast<const ACE_HEADER *>(rightAce);
        if (leftHeader->AceSize != rightHeader->AceSize ||
            memcmp(leftAce, rightAce, leftHeader->AceSize) != 0) {
            return false;
        }
    }
    return true;
}

bool EqualSidOrNull(PSID left, PSID right)
{
    if (!left || !right) {
        return left == right;
    }
    return EqualSid(left, right) != FALSE;
}

struct TSecurityParts {
    PSID owner = nullptr;
    PSID group = nullptr;
    BOOL daclPresent = FALSE;
    PACL dacl = nullptr;
    BOOL saclPresent = FALSE;
    PACL sacl = nullptr;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
};

bool Parse(const TBytes &bytes, TSecurityParts &parts)
{
    if (bytes.empty()) {
        return false;
    }
    auto *descriptor = const_cast<uint8_t *>(bytes.data());
    if (!IsValidSecurityDescriptor(descriptor)) {
        return false;
    }
    BOOL defaulted = FALSE;
    DWORD revision = 0;
    return GetSecurityDescriptorOwner(descriptor, &parts.owner, &defaulted) &&
           GetSecurityDescriptorGroup(descriptor, &parts.group, &defaulted) &&
           GetSecurityDescriptorDacl(descriptor, &parts.daclPresent, &parts.dacl, &defaulted) &&
           GetSecurityDescriptorSacl(descriptor, &parts.saclPresent, &parts.sacl, &defaulted) &&
           GetSecurityDescriptorControl(descriptor, &parts.control, &revision);
}

std::wstring CurrentUserSid()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return {};
    }
    TFileHandle owner(token);
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<uint8_t> buffer(size ? size : 1);
    if (!GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
        return {};
    }
    wchar_t *text = nullptr;
    if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER *>(buffer.data())->User.Sid, &text)) {
        return {};
    }
    std::wstring sid = text;
    LocalFree(text);
    return sid;
}

// The kernel's name of an open key ("\REGISTRY\MACHINE\SOFTWARE\Wow6432Node\..."), empty
// when the platform cannot tell.
std::wstring KernelName(HKEY key)
{
    using NtQueryKeyFn = LONG(NTAPI *)(HANDLE, int, void *, ULONG, ULONG *);
    static const auto query =
        reinterpret_cast<NtQueryKeyFn>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryKey"));
    if (!query) {
        return {};
    }
    constexpr int kKeyNameInformation = 3;
    std::vector<uint8_t> buffer(1024);
    for (int attempt = 0; attempt < 4; ++attempt) {
        ULONG needed = 0;
        const LONG status =
            query(key, kKeyNameInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status == 0) {
            ULONG length = 0;
            memcpy(&length, buffer.data(), sizeof(length));
            length = std::min<ULONG>(length, static_cast<ULONG>(buffer.size() - sizeof(ULONG)));
            return std::wstring(reinterpret_cast<const wchar_t *>(buffer.data() + sizeof(ULONG)), length / 2);
        }
        if (needed <= buffer.size()) {
            return {};
        }
        buffer.resize(needed);
    }
    return {};
}

bool StartsWithNoCase(const std::wstring &text, const std::wstring &prefix)
{
    return text.size() >= prefix.size() &&
           CompareStringOrdinal(text.c_str(), static_cast<int>(prefix.size()), prefix.c_str(),
                                static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL;
}

// "\REGISTRY\MACHINE\X" → "HKEY_LOCAL_MACHINE\X"; the current user's hive becomes
// HKEY_CURRENT_USER so that an export imports for the same user.
std::wstring RegeditName(const std::wstring &kernel)
{
    static const std::wstring userSid = CurrentUserSid();
    const std::wstring machine = L"\\REGISTRY\\MACHINE";
    const std::wstring users = L"\\REGISTRY\\USER";
    auto rest = [](const std::wstring &text, size_t from) {
        return from >= text.size() ? L"" : text.substr(from);
    };
    if (StartsWithNoCase(kernel, machine) &&
        (kernel.size() == machine.size() || kernel[machine.size()] == L'\\')) {
        return L"HKEY_LOCAL_MACHINE" + rest(kernel, machine.size());
    }
    if (StartsWithNoCase(kernel, users) && (kernel.size() == users.size() || kernel[users.size()] == L'\\')) {
        const std::wstring own = users + L"\\" + userSid;
        if (!userSid.empty() && StartsWithNoCase(kernel, own) &&
            (kernel.size() == own.size() || kernel[own.size()] == L'\\')) {
            return L"HKEY_CURRENT_USER" + rest(kernel, own.size());
        }
        return L"HKEY_USERS" + rest(kernel, users.size());
    }
    return {};
}

} // namespace

uint32_t RootValue(HKEY predefined)
{
    return static_cast<uint32_t>(reinterpret_cast<ULONG_PTR>(predefined) & 0xFFFFFFFFu);
}

HKEY RootHandle(uint32_t root)
{
    return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG_PTR>(static_cast<LONG>(root))));
}

std::wstring RootName(uint32_t root)
{
    for (const TRootName &entry : kRoots) {
        if (RootValue(entry.handle) == root) {
            return entry.name;
        }
    }
    wchar_t text[32] = {};
    swprintf(text, 32, L"HKEY_0x%08X", root);
    return text;
}

bool IsOs64()
{
    if (sizeof(void *) == 8) {
        return true;
    }
    static const bool wow64 = [] {
        BOOL result = FALSE;
        using IsWow64ProcessFn = BOOL(WINAPI *)(HANDLE, PBOOL);
        const auto isWow64 = reinterpret_cast<IsWow64ProcessFn>(
            GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process"));
        return isWow64 && isWow64(GetCurrentProcess(), &result) && result;
    }();
    return wow64;
}

uint32_t ViewOf(REGSAM access)
{
    if (!IsOs64()) {
        return 0;
    }
    const REGSAM bits = access & (KEY_WOW64_64KEY | KEY_WOW64_32KEY);
    if (bits == KEY_WOW64_64KEY || bits == KEY_WOW64_32KEY) {
        return bits;
    }
    return sizeof(void *) == 8 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

std::vector<std::wstring> SplitPath(const std::wstring &path)
{
    std::vector<std::wstring> names;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(L'\\', start);
        if (end == std::wstring::npos) {
            end = path.size();
        }
        if (end > start) {
            names.push_back(path.substr(start, end - start));
        }
        start = end + 1;
    }
    return names;
}

std::wstring JoinPath(const std::vector<std::wstring> &names, size_t count)
{
    std::wstring path;
    for (size_t index = 0; index < count && index < names.size(); ++index) {
        if (index) {
            path += L'\\';
        }
        path += names[index];
    }
    return path;
}

std::wstring AppendPath(const std::wstring &path, const wchar_t *subKey)
{
    std::vector<std::wstring> names = SplitPath(path);
    if (subKey) {
        for (std::wstring &name : SplitPath(subKey)) {
            names.push_back(std::move(name));
        }
    }
    return JoinPath(names, names.size());
}

std::wstring Describe(const TRegLocation &location)
{
    std::wstring text = RootName(location.root);
    if (!location.path.empty()) {
        text += L"\\" + location.path;
    }
    if (location.view == KEY_WOW64_64KEY) {
        text += L" (64-bit view)";
    } else if (location.view == KEY_WOW64_32KEY) {
        text += L" (32-bit view)";
    }
    return text;
}

std::wstring DescribeValue(const TRegLocation &location, const std::wstring &name)
{
    return (name.empty() ? std::wstring(L"default value") : L"value \"" + name + L"\"") + L" of " +
           Describe(location);
}

LONG OpenLocation(const TRegLocation &location, REGSAM access, TRegKey &key)
{
    TRegKey opened;
    const LONG status = RegOpenKeyExW(RootHandle(location.root), location.path.c_str(), 0,
                                      WithView(access, location), opened.Receive());
    if (status == ERROR_SUCCESS) {
        key = std::move(opened);
    }
    return status;
}

LONG CreateLocation(const TRegLocation &location, const std::wstring &keyClass, TRegKey &key)
{
    // Key by key, opening what exists: RegCreateKeyEx on an existing key would be harmless on
    // Windows, but Wine then clears the key's class.
    const std::vector<std::wstring> names = SplitPath(location.path);
    TRegKey current(RootHandle(location.root)); // predefined: never closed
    LONG status = ERROR_SUCCESS;
    for (size_t index = 0; index < names.size(); ++index) {
        const bool last = index + 1 == names.size();
        const REGSAM access =
            WithView(last ? KEY_ALL_ACCESS : KEY_CREATE_SUB_KEY | KEY_QUERY_VALUE, location);
        TRegKey next;
        status = RegOpenKeyExW(current.get(), names[index].c_str(), 0, access, next.Receive());
        if (status == ERROR_FILE_NOT_FOUND) {
            wchar_t *keyClassText =
                last && !keyClass.empty() ? const_cast<wchar_t *>(keyClass.c_str()) : nullptr;
            status = RegCreateKeyExW(current.get(), names[index].c_str(), 0, keyClassText, 0, access, nullptr,
                                     next.Receive(), nullptr);
        }
        if (status != ERROR_SUCCESS) {
            return status;
        }
        current = std::move(next);
    }
    if (names.empty()) {
        return OpenLocation(location, KEY_ALL_ACCESS, key);
    }
    key = std::move(current);
    return ERROR_SUCCESS;
}

LONG ProbeKey(const TRegLocation &location, bool &exists)
{
    TRegKey key;
    const LONG status = OpenLocation(location, KEY_QUERY_VALUE, key);
    exists = status != ERROR_FILE_NOT_FOUND;
    return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

LONG ReadValue(HKEY key, const std::wstring &name, TValueState &state)
{
    DWORD type = 0;
    DWORD size = 0;
    LONG status = RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND) {
        state = TValueState{};
        return ERROR_SUCCESS;
    }
    TBytes data;
    for (int attempt = 0; attempt < 8; ++attempt) {
        if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) {
            return status;
        }
        // Room for a terminator some implementations add beyond the reported size.
        data.resize(static_cast<size_t>(size) + sizeof(wchar_t));
        DWORD got = static_cast<DWORD>(data.size());
        status = RegQueryValueExW(key, name.c_str(), nullptr, &type, data.data(), &got);
        if (status == ERROR_SUCCESS) {
            data.resize(got);
            state.present = true;
            state.type = type;
            state.data = std::move(data);
            return ERROR_SUCCESS;
        }
        if (status == ERROR_FILE_NOT_FOUND) {
            state = TValueState{};
            return ERROR_SUCCESS;
        }
        size = std::max<DWORD>(got, size * 2 + 16); // the value grew in between
    }
    return ERROR_MORE_DATA;
}

LONG ReadValueAt(const TRegLocation &location, const std::wstring &name, TValueState &state)
{
    TRegKey key;
    const LONG status = OpenLocation(location, KEY_QUERY_VALUE, key);
    if (status == ERROR_FILE_NOT_FOUND) {
        state = TValueState{};
        return ERROR_SUCCESS;
    }
    if (status != ERROR_SUCCESS) {
        return status;
    }
    return ReadValue(key.get(), name, state);
}

LONG WriteValue(HKEY key, const std::wstring &name, uint32_t type, const TBytes &data)
{
    // RegSetValueEx looks one character before and after string data to decide whether the
    // caller forgot the terminator; non-zero guards on both sides keep the bytes as given.
    TBytes guarded(data.size() + 4, 0xFF);
    std::copy(data.begin(), data.end(), guarded.begin() + 2);
    return RegSetValueExW(key, name.c_str(), 0, type, guarded.data() + 2, static_cast<DWORD>(data.size()));
}

LONG IsKeyEmpty(HKEY key, bool &empty)
{
    DWORD subkeys = 0;
    DWORD values = 0;
    const LONG status = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                                         nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_SUCCESS) {
        empty = subkeys == 0 && values == 0;
    }
    return status;
}

namespace {

LONG CaptureKeyAt(HKEY key, REGSAM view, TKeySnapshot &snapshot, int depth)
{
    if (depth > kMaxKeyDepth) {
        return ERROR_CANTREAD;
    }
    DWORD classLength = 0;
    DWORD subkeyCount = 0;
    DWORD maxSubkeyLength = 0;
    DWORD valueCount = 0;
    DWORD maxValueNameLength = 0;
    DWORD maxDataLength = 0;
    LONG status =
        RegQueryInfoKeyW(key, nullptr, &classLength, nullptr, &subkeyCount, &maxSubkeyLength, nullptr,
                         &valueCount, &maxValueNameLength, &maxDataLength, nullptr, nullptr);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (classLength) {
        std::wstring keyClass(classLength + 1, L'\0');
        DWORD length = classLength + 1;
        status = RegQueryInfoKeyW(key, keyClass.data(), &length, nullptr, nullptr, nullptr, nullptr, nullptr,
                                  nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        keyClass.resize(length);
        snapshot.keyClass = std::move(keyClass);
    }
    if (ReadSecurity(key, kSnapshotSecurity, snapshot.security) != ERROR_SUCCESS) {
        snapshot.security.clear(); // kept when readable; a key without it is still restorable
    }

    std::wstring name(std::max<DWORD>(maxValueNameLength, 255) + 1, L'\0');
    TBytes data(static_cast<size_t>(maxDataLength) + sizeof(wchar_t));
    int retries = 0;
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataLength = static_cast<DWORD>(data.size());
        DWORD type = 0;
        status =
            RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type, data.data(), &dataLength);
        if (status == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (status == ERROR_MORE_DATA && ++retries < 8) {
            // Grown since the count, or a name longer than announced: widen and retry.
            name.resize(std::max<size_t>(name.size() * 2, 16384 + 1));
            data.resize(std::max<size_t>(data.size() * 2, static_cast<size_t>(dataLength) + sizeof(wchar_t)));
            --index;
            continue;
        }
        if (status != ERROR_SUCCESS) {
            return status;
        }
        retries = 0;
        TNamedValue value;
        value.name.assign(name.data(), nameLength);
        // The enumeration may hand strings back adjusted; the value itself is read exactly.
        TValueState exact;
        status = ReadValue(key, value.name, exact);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        if (!exact.present) {
            continue; // removed in between
        }
        value.type = exact.type;
        value.data = std::move(exact.data);
        snapshot.values.push_back(std::move(value));
    }

    std::wstring subkeyName(std::max<DWORD>(maxSubkeyLength, 255) + 1, L'\0');
    std::vector<std::wstring> subkeyNames;
    retries = 0;
    for (DWORD index = 0;; ++index) {
        DWORD length = static_cast<DWORD>(subkeyName.size());
        status = RegEnumKeyExW(key, index, subkeyName.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (status == ERROR_MORE_DATA && ++retries < 8) {
            subkeyName.resize(subkeyName.size() * 2);
            --index;
            continue;
        }
        if (status != ERROR_SUCCESS) {
            return status;
        }
        retries = 0;
        subkeyNames.emplace_back(subkeyName.data(), length);
    }
    for (const std::wstring &subkeyName : subkeyNames) {
        TRegKey child;
        status = RegOpenKeyExW(key, subkeyName.c_str(), 0, KEY_READ | view, child.Receive());
        if (status == ERROR_FILE_NOT_FOUND) {
            continue;
        }
        if (status != ERROR_SUCCESS) {
            return status;
        }
        TKeySnapshot childSnapshot;
        childSnapshot.name = subkeyName;
        status = CaptureKeyAt(child.get(), view, childSnapshot, depth + 1);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        snapshot.subkeys.push_back(std::move(childSnapshot));
    }
    return ERROR_SUCCESS;
}

} // namespace

LONG CaptureKey(HKEY key, REGSAM view, TKeySnapshot &snapshot)
{
    TKeySnapshot captured;
    captured.name = snapshot.name;
    const LONG status = CaptureKeyAt(key, view, captured, 0);
    if (status == ERROR_SUCCESS) {
        snapshot = std::move(captured);
    }
    return status;
}

LONG ReadSecurity(HKEY key, SECURITY_INFORMATION information, TBytes &descriptor)
{
    DWORD size = 0;
    LONG status = RegGetKeySecurity(key, information, nullptr, &size);
    for (int attempt = 0; attempt < 4 && status == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
        TBytes buffer(size);
        status = RegGetKeySecurity(key, information, buffer.data(), &size);
        if (status == ERROR_SUCCESS) {
            buffer.resize(std::min<size_t>(buffer.size(), GetSecurityDescriptorLength(buffer.data())));
            descriptor = std::move(buffer);
            return ERROR_SUCCESS;
        }
    }
    return status == ERROR_SUCCESS ? ERROR_INVALID_SECURITY_DESCR : status;
}

bool SameSecurity(const TBytes &left, const TBytes &right, SECURITY_INFORMATION information)
{
    TSecurityParts a;
    TSecurityParts b;
    if (!Parse(left, a) || !Parse(right, b)) {
        return left == right;
    }
    if ((information & OWNER_SECURITY_INFORMATION) && !EqualSidOrNull(a.owner, b.owner)) {
        return false;
    }
    if ((information & GROUP_SECURITY_INFORMATION) && !EqualSidOrNull(a.group, b.group)) {
        return false;
    }
    if (information & DACL_SECURITY_INFORMATION) {
        if (a.daclPresent != b.daclPresent ||
            (a.control & SE_DACL_PROTECTED) != (b.control & SE_DACL_PROTECTED) ||
            (a.daclPresent && !EqualAcl(a.dacl, b.dacl))) {
            return false;
        }
    }
    if (information & SACL_SECURITY_INFORMATION) {
        if (a.saclPresent != b.saclPresent ||
            (a.control & SE_SACL_PROTECTED) != (b.control & SE_SACL_PROTECTED) ||
            (a.saclPresent && !EqualAcl(a.sacl, b.sacl))) {
            return false;
        }
    }
    return true;
}

std::wstring PhysicalPath(const TRegLocation &location)
{
    const std::vector<std::wstring> names = SplitPath(location.path);
    for (size_t depth = names.size(); depth > 0; --depth) {
        TRegLocation ancestor = location;
        ancestor.path = JoinPath(names, depth);
        TRegKey key;
        if (OpenLocation(ancestor, KEY_QUERY_VALUE, key) != ERROR_SUCCESS &&
            OpenLocation(ancestor, READ_CONTROL, key) != ERROR_SUCCESS) {
            continue;
        }
        std::wstring path = RegeditName(KernelName(key.get()));
        if (path.empty()) {
            break;
        }
        for (size_t index = depth; index < names.size(); ++index) {
            path += L"\\" + names[index];
        }
        return path;
    }
    std::wstring path = RootName(location.root);
    if (!location.path.empty()) {
        path += L"\\" + location.path;
    }
    return path;
}

} // namespace tidyhive::backvault
