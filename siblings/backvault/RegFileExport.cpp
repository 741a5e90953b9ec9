#include "siblings/backvault/RegFileExport.h"

#include "siblings/backvault/BackvaultError.h"
#include "siblings/backvault/RegistryState.h"
#include "siblings/backvault/SessionStore.h"
#include "siblings/backvault/Win32Owners.h"

#include <algorithm>
#include <map>
#include <set>

namespace tidyhive::backvault {
namespace {

std::wstring Lower(const std::wstring &text)
{
    std::wstring lower = text;
    if (!lower.empty()) {
        CharLowerBuffW(lower.data(), static_cast<DWORD>(lower.size()));
    }
    return lower;
}

std::wstring KeyId(const TRegLocation &location)
{
    return std::to_wstring(location.root) + L"|" + std::to_wstring(location.view) + L"|" +
           Lower(location.path);
}

std::wstring Escape(const std::wstring &text)
{
    std::wstring escaped;
    for (const wchar_t c : text) {
        if (c == L'\\' || c == L'"') {
            escaped += L'\\';
        }
        escaped += c;
    }
    return escaped;
}

// Text regedit writes between quotes: terminated once, no embedded zero or line break.
bool IsPlainString(const TBytes &data, std::wstring &text)
{
    if (data.size() < sizeof(wchar_t) || data.size() % sizeof(wchar_t) != 0) {
        return false;
    }
    text.assign(reinterpret_cast<const wchar_t *>(data.data()), data.size() / sizeof(wchar_t));
    if (text.back() != L'\0') {
        return false;
    }
    text.pop_back();
    return text.find_first_of(std::wstring(L"\r\n\0", 3)) == std::wstring::npos;
}

struct TExportKey {
    TRegLocation location;
    std::wstring physical;
    bool emit = false;
    std::vector<TNamedValue> values;
    std::set<std::wstring> seen; // value names decided already (lower case)
};

class TExportBuilder {
public:
    void Add(const TStoredChange &stored)
    {
        if (const auto *creation = std::get_if<TKeyCreation>(&stored.change)) {
            const std::vector<std::wstring> names = SplitPath(creation->key.path);
            for (size_t depth = creation->existingDepth + 1; depth <= names.size(); ++depth) {
                TRegLocation location = creation->key;
                location.path = JoinPath(names, depth);
                created_.insert(KeyId(location));
            }
        } else if (const auto *value = std::get_if<TValueChange>(&stored.change)) {
            // The first record of a value holds its state before the session.
            TExportKey &key = Key(value->key);
            if (!key.seen.insert(Lower(value->name)).second) {
                return;
            }
            if (value->before.present && !created_.count(KeyId(value->key))) {
                key.emit = true;
                key.values.push_back(TNamedValue{value->name, value->before.type, value->before.data});
            }
        } else if (const auto *deletion = std::get_if<TKeyDeletion>(&stored.change)) {
            AddTree(deletion->key, deletion->snapshot);
        } else if (const auto *files = std::get_if<TFileChange>(&stored.change)) {
            for (const TFileEntry &entry : files->entries) {
                if (entry.before.kind == TFileKind::File && !entry.before.blob.empty()) {
                    files_.push_back(entry.path);
                }
            }
        }
    }

    std::wstring Text(const std::wstring &id, const std::wstring &title)
    {
        std::vector<TExportKey *> keys;
        for (auto &[keyId, key] : keys_) {
            if (key.emit) {
                key.physical = PhysicalPath(key.location);
                keys.push_back(&key);
            }
        }
        // Parents before children: compare name by name, case-insensitively.
        std::sort(keys.begin(), keys.end(), [](const TExportKey *left, const TExportKey *right) {
            const std::vector<std::wstring> a = SplitPath(Lower(left->physical));
            const std::vector<std::wstring> b = SplitPath(Lower(right->physical));
            return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
        });
        std::wstring text = L"Windows Registry Editor Version 5.00\r\n\r\n";
        text += L"; Backup session " + id + (title.empty() ? L"" : L": " + title) + L"\r\n\r\n";
        for (const TExportKey *key : keys) {
            text += L"[" + key->physical + L"]\r\n";
            for (const TNamedValue &value : key->values) {
                text += FormatRegValue(value.name, value.type, value.data) + L"\r\n";
            }
            text += L"\r\n";
        }
        if (!files_.empty()) {
            text += L"; Files the session removed or replaced (restore the session to put them back):\r\n";
            for (const std::wstring &file : files_) {
                text += L";   " + file + L"\r\n";
            }
            text += L"\r\n";
        }
        return text;
    }

private:
    TExportKey &Key(const TRegLocation &location)
    {
        TExportKey &key = keys_[KeyId(location)];
        if (key.location.root == 0) {
            key.location = location;
        }
        return key;
    }

    void AddTree(const TRegLocation &location, const TKeySnapshot &snapshot)
    {
        if (created_.count(KeyId(location))) {
            return; // the session made it: there was nothing before
        }
        TExportKey &key = Key(location);
        key.emit = true;
        for (const TNamedValue &value : snapshot.values) {
            if (key.seen.insert(Lower(value.name)).second) {
                key.values.push_back(value);
            }
        }
        for (const TKeySnapshot &subkey : snapshot.subkeys) {
            TRegLocation child = location;
            child.path = location.path.empty() ? subkey.name : location.path + L"\\" + subkey.name;
            AddTree(child, subkey);
        }
    }

    std::map<std::wstring, TExportKey> keys_;
    std::set<std::wstring> created_;
    std::vector<std::wstring> files_;
};

} // namespace

std::wstring FormatRegValue(const std::wstring &name, uint32_t type, const TBytes &data)
{
    std::wstring line = name.empty() ? L"@=" : L"\"" + Escape(name) + L"\"=";
    std::wstring text;
    if (type == REG_SZ && IsPlainString(data, text)) {
        return line + L"\"" + Escape(text) + L"\"";
    }
    if (type == REG_DWORD && data.size() == sizeof(DWORD)) {
        DWORD value = 0;
        memcpy(&value, data.data(), sizeof(value));
        wchar_t hex[16] = {};
        swprintf(hex, 16, L"dword:%08x", static_cast<unsigned>(value));
        return line + hex;
    }
    if (type == REG_BINARY) {
        line += L"hex:";
    } else {
        wchar_t prefix[24] = {};
        swprintf(prefix, 24, L"hex(%x):", static_cast<unsigned>(type));
        line += prefix;
    }
    // As regedit: lines of about 80 characters, continued with a backslash and two spaces.
    size_t column = line.size();
    for (size_t index = 0; index < data.size(); ++index) {
        wchar_t byte[4] = {};
        swprintf(byte, 4, L"%02x", static_cast<unsigned>(data[index]));
        line += byte;
        column += 2;
        if (index + 1 < data.size()) {
            line += L',';
            ++column;
            if (column > 76) {
                line += L"\\\r\n  ";
                column = 2;
            }
        }
    }
    return line;
}

void ExportStoredSession(const std::wstring &storage, const std::wstring &id, const std::wstring &fileName)
{
    const TStoredSession session = LoadSession(storage, id, false);
    TExportBuilder builder;
    for (const TStoredChange &change : session.changes) {
        const auto outcome = session.outcomes.find(change.sequence);
        if (outcome != session.outcomes.end() && outcome->second.status != ERROR_SUCCESS) {
            continue; // failed: nothing was removed
        }
        builder.Add(change);
    }
    const std::wstring text = builder.Text(id, session.summary.title);

    TFileHandle file(CreateFileW(fileName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        throw EBackvault(WithSystemMessage(L"Cannot create " + fileName, error), error);
    }
    TBytes bytes = {0xFF, 0xFE};
    const auto *begin = reinterpret_cast<const uint8_t *>(text.data());
    bytes.insert(bytes.end(), begin, begin + text.size() * sizeof(wchar_t));
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size()) {
        const DWORD error = GetLastError();
        throw EBackvault(WithSystemMessage(L"Cannot write " + fileName, error), error);
    }
}

} // namespace tidyhive::backvault
