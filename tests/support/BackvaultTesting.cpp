#include "tests/support/BackvaultTesting.h"

#include <algorithm>
#include <stdexcept>

namespace tidyhive::testing {
namespace {

using GetInstanceFn = IUnknown *(WINAPI *)(const char *, LONG);

std::wstring Hex(const uint8_t *data, size_t size)
{
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring text;
    text.reserve(size * 2);
    for (size_t index = 0; index < size; ++index) {
        text += digits[data[index] >> 4];
        text += digits[data[index] & 15];
    }
    return text;
}

std::vector<uint8_t> Utf16(const std::wstring &text, bool terminator = true)
{
    const auto *begin = reinterpret_cast<const uint8_t *>(text.c_str());
    return std::vector<uint8_t>(begin, begin + (text.size() + (terminator ? 1 : 0)) * sizeof(wchar_t));
}

void DumpKey(HKEY key, REGSAM view, const std::wstring &indent, bool withClasses, std::wstring &out)
{
    wchar_t keyClass[1024] = {};
    DWORD classLength = 1024;
    DWORD subkeys = 0;
    DWORD values = 0;
    RegQueryInfoKeyW(key, keyClass, &classLength, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                     nullptr, nullptr, nullptr);
    if (withClasses && classLength) {
        out += indent + L"class=" + std::wstring(keyClass, classLength) + L"\n";
    }
    struct TValue {
        std::wstring name;
        std::wstring line;
    };
    std::vector<TValue> lines;
    for (DWORD index = 0;; ++index) {
        wchar_t name[16384] = {};
        DWORD nameLength = 16384;
        DWORD type = 0;
        DWORD size = 0;
        if (RegEnumValueW(key, index, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
            break;
        }
        std::vector<uint8_t> data(size + 2);
        DWORD got = size;
        const std::wstring valueName(name, nameLength);
        RegQueryValueExW(key, valueName.c_str(), nullptr, &type, data.data(), &got);
        wchar_t header[64] = {};
        swprintf(header, 64, L" type=%x size=%lu ", static_cast<unsigned>(type),
                 static_cast<unsigned long>(got));
        lines.push_back(
            {valueName, indent + L"value \"" + valueName + L"\"" + header + Hex(data.data(), got) + L"\n"});
    }
    std::sort(lines.begin(), lines.end(), [](const TValue &a, const TValue &b) {
        return CompareStringOrdinal(a.name.c_str(), -1, b.name.c_str(), -1, TRUE) == CSTR_LESS_THAN;
    });
    for (const TValue &line : lines) {
        out += line.line;
    }
    std::vector<std::wstring> names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256] = {};
        DWORD length = 256;
        if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        names.emplace_back(name, length);
    }
    std::sort(names.begin(), names.end(), [](const std::wstring &a, const std::wstring &b) {
        return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_LESS_THAN;
    });
    for (const std::wstring &name : names) {
        HKEY child = nullptr;
        out += indent + L"key \"" + name + L"\"\n";
        if (RegOpenKeyExW(key, name.c_str(), 0, KEY_READ | view, &child) == ERROR_SUCCESS) {
            DumpKey(child, view, indent + L"  ", withClasses, out);
            RegCloseKey(child);
        }
    }
    (void)subkeys;
    (void)values;
}

void SetValue(HKEY key, const TTestValue &value)
{
    // Guards around the data keep RegSetValueEx from adding a terminator to odd strings.
    std::vector<uint8_t> guarded(value.data.size() + 4, 0xFF);
    std::copy(value.data.begin(), value.data.end(), guarded.begin() + 2);
    const LONG status = RegSetValueExW(key, value.name.c_str(), 0, value.type, guarded.data() + 2,
                                       static_cast<DWORD>(value.data.size()));
    if (status != ERROR_SUCCESS) {
        throw std::runtime_error("cannot set a test value: error " + std::to_string(status));
    }
}

HKEY CreateKey(HKEY root, const std::wstring &path, REGSAM view, const wchar_t *keyClass)
{
    HKEY key = nullptr;
    const LONG status = RegCreateKeyExW(root, path.c_str(), 0, const_cast<wchar_t *>(keyClass), 0,
                                        KEY_ALL_ACCESS | view, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) {
        throw std::runtime_error("cannot create a test key: error " + std::to_string(status));
    }
    return key;
}

} // namespace

TBackvaultInstance::TBackvaultInstance(const std::wstring &storageFolder)
{
    HMODULE library = LoadLibraryW(L"Backvault.dll");
    if (!library) {
        throw std::runtime_error("cannot load Backvault.dll");
    }
    const auto getInstance = reinterpret_cast<GetInstanceFn>(GetProcAddress(library, "GetInstance"));
    if (!getInstance) {
        throw std::runtime_error("Backvault.dll has no GetInstance export");
    }
    IUnknown *instance = getInstance(kBackvaultInstanceId, 0);
    if (!instance ||
        FAILED(instance->QueryInterface(IID_IBackvault, reinterpret_cast<void **>(&backvault_)))) {
        throw std::runtime_error("Backvault.dll answered no IBackvault");
    }
    instance->Release();
    reg_ = backvault_->GetRegAccess();
    files_ = backvault_->GetFileAccess();
    if (!storageFolder.empty() && FAILED(backvault_->SetStorageFolder(storageFolder.c_str()))) {
        throw std::runtime_error("cannot set the storage folder");
    }
}

TBackvaultInstance::~TBackvaultInstance()
{
    if (backvault_->IsSessionOpen()) {
        backvault_->EndSession(TRUE);
    }
    backvault_->SetStorageFolder(nullptr);
    reg_->Release();
    files_->Release();
    backvault_->Release();
}

std::wstring TBackvaultInstance::Begin(const std::wstring &title)
{
    BSTR id = nullptr;
    if (!backvault_->BeginSession(title.c_str(), L"Registry Cleaner", &id)) {
        return {};
    }
    std::wstring text = id ? std::wstring(id, SysStringLen(id)) : std::wstring();
    SysFreeString(id);
    return text;
}

HRESULT TBackvaultInstance::Restore(const std::wstring &id, bool overwrite, std::wstring &report) const
{
    BSTR text = nullptr;
    const HRESULT status = backvault_->RestoreSession(id.c_str(), overwrite ? TRUE : FALSE, &text);
    report = text ? std::wstring(text, SysStringLen(text)) : std::wstring();
    SysFreeString(text);
    return status;
}

std::wstring TBackvaultInstance::LastError() const
{
    BSTR text = nullptr;
    backvault_->GetLastErrorText(&text);
    std::wstring result = text ? std::wstring(text, SysStringLen(text)) : std::wstring();
    SysFreeString(text);
    return result;
}

TKeyTreeGuard::TKeyTreeGuard(HKEY root, std::wstring path, REGSAM view)
    : root_(root), path_(std::move(path)), view_(view)
{
}

TKeyTreeGuard::~TKeyTreeGuard()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root_, path_.c_str(), 0, KEY_ALL_ACCESS | view_, &key) == ERROR_SUCCESS) {
        RegDeleteTreeW(key, nullptr);
        RegCloseKey(key);
        RegDeleteKeyExW(root_, path_.c_str(), view_, 0);
    }
}

std::vector<TTestValue> AllKindsOfValues(const std::wstring &salt)
{
    std::vector<uint8_t> large(100 * 1024);
    uint32_t state = 2166136261u;
    for (const wchar_t c : salt) {
        state = (state ^ c) * 16777619u;
    }
    for (uint8_t &byte : large) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(state >> 24);
    }
    const DWORD dword = 0xDEADBEEF;
    const uint64_t qword = 0x0123456789ABCDEFull;
    std::vector<uint8_t> multi = Utf16(L"first" + salt);
    const std::vector<uint8_t> second = Utf16(L"zweite Zeile äö");
    multi.insert(multi.end(), second.begin(), second.end());
    multi.push_back(0);
    multi.push_back(0);
    return {
        {L"", REG_SZ, Utf16(L"default of " + salt)},
        {L"Plain", REG_SZ, Utf16(L"C:\\Program Files\\" + salt + L"\\app.exe")},
        {L"Empty string", REG_SZ, Utf16(L"")},
        {L"Zero-length string", REG_SZ, {}},
        {L"Expand", REG_EXPAND_SZ, Utf16(L"%SystemRoot%\\system32\\" + salt)},
        {L"Binary", REG_BINARY, {0x00, 0x01, 0xFE, 0xFF, 0x00}},
        {L"Empty binary", REG_BINARY, {}},
        {L"Large binary", REG_BINARY, large},
        {L"Dword", REG_DWORD,
         std::vector<uint8_t>(reinterpret_cast<const uint8_t *>(&dword),
                              reinterpret_cast<const uint8_t *>(&dword) + 4)},
        {L"Short dword", REG_DWORD, {0x01, 0x02}},
        {L"Big endian", REG_DWORD_BIG_ENDIAN, {0x12, 0x34, 0x56, 0x78}},
        {L"Qword", REG_QWORD,
         std::vector<uint8_t>(reinterpret_cast<const uint8_t *>(&qword),
                              reinterpret_cast<const uint8_t *>(&qword) + 8)},
        {L"Multi", REG_MULTI_SZ, multi},
        {L"None", REG_NONE, {0x42, 0x43}},
        {L"Resource list", REG_RESOURCE_LIST, {0x01, 0x00, 0x00, 0x00}},
        {L"Unusual type", 0x12345, {0x10, 0x20, 0x30}},
        {L"Highest type", 0xFFFFFFFF, {0xAA}},
        {L"Wert äöü ß — 日本語 Ελληνικά Кириллица \U0001F600", REG_SZ, Utf16(L"Ünïcödé ✓ " + salt)},
        {L"quote\" back\\slash [bracket] =equals", REG_SZ, Utf16(L"a \"quoted\" \\ value")},
    };
}

void CreateTestTree(HKEY root, const std::wstring &path, REGSAM view, const std::wstring &salt,
                    const TTreeOptions &options)
{
    HKEY top = CreateKey(root, path, view, options.classes ? L"TopClass" : nullptr);
    for (const TTestValue &value : AllKindsOfValues(salt)) {
        if (!options.oddStrings && value.type == REG_SZ && value.data.empty()) {
            continue;
        }
        SetValue(top, value);
    }
    if (options.oddStrings) {
        // Odd byte count and no terminator: kept exactly, never "repaired".
        SetValue(top, {L"Unterminated", REG_SZ, {0x41, 0x00, 0x42}});
    }
    // Subkeys relative to their parent: Wine's RegCreateKeyEx through a full path in the
    // 32-bit view re-creates the existing parents and clears their class.
    HKEY sub = CreateKey(top, L"Sub-Ωmega " + salt, view, options.classes ? L"Класс" : nullptr);
    SetValue(sub, {L"", REG_DWORD, {1, 0, 0, 0}});
    SetValue(sub, {L"Name", REG_SZ, Utf16(L"sub value")});
    HKEY deeper = CreateKey(sub, L"Deeper", view, nullptr);
    SetValue(deeper, {L"Only", REG_BINARY, {9, 8, 7}});
    HKEY deepest = CreateKey(deeper, L"Deepest 日本", view, nullptr);
    SetValue(deepest, {L"", REG_SZ, Utf16(L"deepest default")});
    RegCloseKey(deepest);
    RegCloseKey(deeper);
    RegCloseKey(sub);
    RegCloseKey(CreateKey(top, L"Empty key", view, nullptr));
    HKEY second = CreateKey(top, L"Second", view, nullptr);
    SetValue(second, {L"A", REG_SZ, Utf16(L"a")});
    SetValue(second, {L"B", REG_EXPAND_SZ, Utf16(L"%TEMP%")});
    RegCloseKey(second);
    RegCloseKey(top);
}

std::wstring DumpTree(HKEY root, const std::wstring &path, REGSAM view, bool withClasses)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) {
        return {};
    }
    std::wstring out = L"root\n";
    DumpKey(key, view, L"  ", withClasses, out);
    RegCloseKey(key);
    return out;
}

bool DeleteLikeEngine(IRegAccess *access, HKEY base, const std::wstring &path, REGSAM sam)
{
    HKEY key = nullptr;
    bool valuesDeleted = true;
    if (access->RegOpenKeyEx(base, path.c_str(), 0, sam, &key) == ERROR_SUCCESS) {
        DWORD subkeys = 0;
        DWORD maxSubkey = 0;
        DWORD values = 0;
        if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, &maxSubkey, nullptr, &values, nullptr,
                             nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
            for (DWORD index = subkeys; index-- > 0;) {
                std::wstring name(maxSubkey + 1, L'\0');
                DWORD length = maxSubkey + 1;
                if (RegEnumKeyExW(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr) ==
                    ERROR_SUCCESS) {
                    DeleteLikeEngine(access, key, name.substr(0, length), sam);
                }
            }
            std::vector<std::wstring> names;
            for (DWORD index = 0;; ++index) {
                wchar_t name[16384] = {};
                DWORD length = 16384;
                if (RegEnumValueW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
                    ERROR_SUCCESS) {
                    break;
                }
                names.emplace_back(name, length);
            }
            for (const std::wstring &name : names) {
                if (access->RegDeleteValue(key, name.c_str()) != ERROR_SUCCESS) {
                    valuesDeleted = false;
                    break;
                }
            }
        }
        access->RegCloseKey(key);
    }
    if (!valuesDeleted) {
        return false;
    }
    return access->RegDeleteKeyEx(base, path.c_str(), sam & 0x300, 0) == ERROR_SUCCESS;
}

int RunProcess(const std::wstring &commandLine, DWORD timeoutMs)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    std::wstring line = commandLine;
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return -1;
    }
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &code);
    } else {
        TerminateProcess(process.hProcess, 1);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

int RunCaptured(const std::wstring &commandLine, std::string &output, DWORD timeoutMs)
{
    output.clear();
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    if (!CreatePipe(&read, &write, &inherit, 0)) {
        return -1;
    }
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write;
    startup.hStdError = write;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process = {};
    std::wstring line = commandLine;
    const BOOL started =
        CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    CloseHandle(write);
    if (!started) {
        CloseHandle(read);
        return -1;
    }
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(read, chunk, sizeof(chunk), &got, nullptr) && got) {
        output.append(chunk, got);
    }
    CloseHandle(read);
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &code);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

std::wstring FromUtf8(const std::string &text)
{
    if (text.empty()) {
        return {};
    }
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size);
    return result;
}

std::wstring ExecutableFolder()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder = path;
    return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

std::vector<uint8_t> ReadFileBytes(const std::wstring &path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return {};
    }
    LARGE_INTEGER size = {};
    GetFileSizeEx(file, &size);
    std::vector<uint8_t> bytes(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!bytes.empty()) {
        ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    }
    bytes.resize(read);
    CloseHandle(file);
    return bytes;
}

std::wstring ToHex(const std::vector<uint8_t> &bytes, size_t limit)
{
    return Hex(bytes.data(), std::min(bytes.size(), limit)) + (bytes.size() > limit ? L"..." : L"");
}

} // namespace tidyhive::testing
