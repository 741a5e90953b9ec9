#include "clean/IgnoreList.h"

#include "clean/EncodedStringList.h"
#include "engine/BoundaryGuard.h"
#include "registry/PathFunctions.h"
#include "services/DebugLog.h"

#include <windows.h>

#include <algorithm>
#include <fstream>

namespace tidyhive {
namespace {

using TItemFactory = std::unique_ptr<TCustomIgnoreItem> (*)(const std::wstring&, TIgnoreList*);

// The item classes a stored line may name.
struct TRegisteredClass {
    const wchar_t* name;
    TItemFactory create;
};
const TRegisteredClass kItemClasses[] = {
    {L"TCustomIgnoreItem", &TCustomIgnoreItem::CreateFromText},
    {L"TIgnoreItem", &TIgnoreItem::CreateFromText},
};

}  // namespace

std::vector<std::uint8_t> ReadFileBytes(const std::wstring& fileName)
{
    HANDLE file = CreateFileW(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        throw std::runtime_error("cannot open " + WideToUtf8(fileName));
    }
    std::vector<std::uint8_t> bytes;
    LARGE_INTEGER size{};
    GetFileSizeEx(file, &size);
    if (size.QuadPart > 64 * 1024 * 1024) {
        CloseHandle(file);
        throw std::runtime_error("ignore list too large: " + WideToUtf8(fileName));
    }
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    const BOOL ok =
        bytes.empty() || ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    CloseHandle(file);
    if (!ok || read != bytes.size()) {
        throw std::runtime_error("cannot read " + WideToUtf8(fileName));
    }
    return bytes;
}

void WriteFileAtomically(const std::wstring& fileName, const std::vector<std::uint8_t>& bytes)
{
    const size_t slash = fileName.find_last_of(L'\\');
    if (slash != std::wstring::npos) {
        ForceFolders(fileName.substr(0, slash));
    }
    const std::wstring temporary = fileName + L".tmp";
    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        throw std::runtime_error("cannot create " + WideToUtf8(temporary));
    }
    DWORD written = 0;
    const BOOL ok = (bytes.empty() ||
                     WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) &&
                    FlushFileBuffers(file);
    CloseHandle(file);
    if (!ok || written != bytes.size()) {
        DeleteFileW(temporary.c_str());
        throw std::runtime_error("cannot write " + WideToUtf8(temporary));
    }
    if (!MoveFileExW(temporary.c_str(), fileName.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(temporary.c_str());
        throw std::runtime_error("cannot replace " + WideToUtf8(fileName));
    }
}

TIgnoreList::TIgnoreList() = default;
TIgnoreList::~TIgnoreList() = default;

LONG STDMETHODCALLTYPE TIgnoreList::Add(LPCWSTR key, LPCWSTR value)
{
    return Guarded<LONG>(L"IgnoreList - Add", -1, [&] { return AddItem(FromWide(key), FromWide(value)); });
}

void STDMETHODCALLTYPE TIgnoreList::DeleteItem(LONG index)
{
    GuardedVoid(L"IgnoreList - DeleteItem", [&] {
        std::lock_guard guard(mutex_);
        if (index < 0 || index >= static_cast<LONG>(items_.size())) {
            return;
        }
        items_.erase(items_.begin() + index);
        regexTexts_.erase(regexTexts_.begin() + index);
        RebuildMatchers();
    });
}

void STDMETHODCALLTYPE TIgnoreList::Clear()
{
    GuardedVoid(L"IgnoreList - Clear", [&] {
        std::lock_guard guard(mutex_);
        regexTexts_.clear();
        items_.clear();
        groups_.clear();
        RebuildMatchers();
    });
}

BOOL STDMETHODCALLTYPE TIgnoreList::IsIgnored(LPCWSTR key, LPCWSTR value)
{
    return Guarded<BOOL>(L"IgnoreList - IsIgnored", FALSE,
                         [&] { return Ignored(FromWide(key), FromWide(value)) ? TRUE : FALSE; });
}

LONG STDMETHODCALLTYPE TIgnoreList::IndexOfDisplay(LPCWSTR display)
{
    return Guarded<LONG>(L"IgnoreList - IndexOfDisplay", -1, [&]() -> LONG {
        std::lock_guard guard(mutex_);
        const std::wstring wanted = FromWide(display);
        for (size_t i = 0; i < items_.size(); ++i) {
            if (SameText(items_[i]->Display(), wanted)) {
                return static_cast<LONG>(i);
            }
        }
        return -1;
    });
}

IIgnoreItem* STDMETHODCALLTYPE TIgnoreList::GetItem(LONG index)
{
    std::lock_guard guard(mutex_);
    if (index < 0 || index >= static_cast<LONG>(items_.size())) {
        return nullptr;
    }
    return items_[static_cast<size_t>(index)].get();
}

LONG STDMETHODCALLTYPE TIgnoreList::GetCount()
{
    return Count();
}

void STDMETHODCALLTYPE TIgnoreList::LoadFromFile(LPCWSTR fileName)
{
    GuardedVoid(L"IgnoreList - LoadFromFile", [&] { LoadFile(FromWide(fileName)); });
}

void STDMETHODCALLTYPE TIgnoreList::Save()
{
    GuardedVoid(L"IgnoreList - Save", [&] {
        std::wstring fileName;
        {
            std::lock_guard guard(mutex_);
            fileName = Trim(fileName_);
        }
        if (!fileName.empty()) {
            SaveToFile(fileName);
        }
    });
}

int TIgnoreList::AddItem(const std::wstring& key, const std::wstring& value)
{
    // A line break or the item markup would make the stored line unreadable.
    if (!StorableIgnoreText(key) || !StorableIgnoreText(value)) {
        DebugLog::Log(L"IgnoreList - Add - refused an item that cannot be stored: " + key);
        throw EIgnoreItemRefused("an ignore item's key or value holds a line break or item markup");
    }
    std::lock_guard guard(mutex_);
    auto item = std::make_unique<TIgnoreItem>(this);
    item->SetOwner(nullptr);  // no change notifications while it is being filled
    item->SetKey(key);
    item->SetValue(value);
    item->SetOwner(this);
    Append(std::move(item));
    return static_cast<int>(regexTexts_.size()) - 1;
}

void TIgnoreList::Append(std::unique_ptr<TCustomIgnoreItem> item)
{
    item->SetOwner(this);
    regexTexts_.push_back(item->Regex());
    items_.push_back(std::move(item));
    try {
        RebuildMatchers();
    } catch (...) {
        // An item whose expression does not compile is not kept: the list stays usable.
        items_.pop_back();
        regexTexts_.pop_back();
        RebuildMatchers();
        throw;
    }
}

bool TIgnoreList::Ignored(const std::wstring& key, const std::wstring& value)
{
    std::lock_guard guard(mutex_);
    if (groups_.empty()) {
        return false;
    }
    const std::wstring subject = L"<key>" + key + L"</key><value>" + value + L"</value>";
    for (const auto& group : groups_) {
        group->SetSubject(subject);
        if (group->Match()) {
            return true;
        }
    }
    return false;
}

int TIgnoreList::Count()
{
    std::lock_guard guard(mutex_);
    return static_cast<int>(items_.size());
}

std::vector<std::wstring> TIgnoreList::Displays()
{
    std::lock_guard guard(mutex_);
    std::vector<std::wstring> result;
    for (const auto& item : items_) {
        result.push_back(item->Display());
    }
    return result;
}

size_t TIgnoreList::GroupCount()
{
    std::lock_guard guard(mutex_);
    return groups_.size();
}

void TIgnoreList::ItemChanged(TCustomIgnoreItem* item)
{
    std::lock_guard guard(mutex_);
    for (size_t i = 0; i < items_.size(); ++i) {
        if (items_[i].get() == item) {
            regexTexts_[i] = item->Regex();
            RebuildMatchers();
            return;
        }
    }
}

void TIgnoreList::DeleteItemObject(TCustomIgnoreItem* item)
{
    std::lock_guard guard(mutex_);
    for (size_t i = 0; i < items_.size(); ++i) {
        if (items_[i].get() == item) {
            DeleteItem(static_cast<LONG>(i));
            return;
        }
    }
}

void TIgnoreList::RebuildMatchers()
{
    std::wstring pattern;
    size_t groupCount = 0;
    for (const std::wstring& text : regexTexts_) {
        if (text.empty()) {
            continue;
        }
        if (!pattern.empty()) {
            pattern += L'|';
        }
        pattern += L"(" + text + L")";
        if (pattern.size() >= kGroupPatternLimit) {
            FlushGroup(pattern, groupCount);
        }
    }
    FlushGroup(pattern, groupCount);
    groups_.resize(groupCount);
}

void TIgnoreList::FlushGroup(std::wstring& pattern, size_t& groupCount)
{
    if (pattern.empty()) {
        return;
    }
    if (groupCount >= groups_.size()) {
        groups_.push_back(std::make_unique<TPerlRegEx>(kEngineRegExOptions));
    }
    TPerlRegEx& group = *groups_[groupCount];
    group.SetRegEx(pattern);
    group.Compile();
    group.Study();
    pattern.clear();
    ++groupCount;
}

size_t TIgnoreList::LoadFromStream(TStream& stream)
{
    std::lock_guard guard(mutex_);
    regexTexts_.clear();
    items_.clear();
    RebuildMatchers();

    TEncodedStringList lines;
    size_t skipped = lines.LoadReadableLines(stream);
    for (const std::wstring& line : lines.Lines()) {
        const std::wstring type = StoredTag(line, L"type");
        const auto known = std::find_if(std::begin(kItemClasses), std::end(kItemClasses),
                                        [&](const TRegisteredClass& c) { return type == c.name; });
        if (known == std::end(kItemClasses)) {
            DebugLog::Log(L"IgnoreList - LoadFromStream - unknown item class: " + type);
            ++skipped;
            continue;
        }
        std::unique_ptr<TCustomIgnoreItem> item = known->create(line, this);
        if (!item) {
            continue;
        }
        try {
            Append(std::move(item));
        } catch (const std::exception& error) {
            DebugLog::Log(L"IgnoreList - LoadFromStream - " + Utf8ToWide(error.what()));
            ++skipped;
        }
    }
    if (skipped > 0) {
        DebugLog::LogFmt(L"IgnoreList - LoadFromStream - %u unreadable line(s) left out",
                         static_cast<unsigned>(skipped));
    }
    return skipped;
}

void TIgnoreList::SaveToStream(TStream& stream)
{
    std::lock_guard guard(mutex_);
    TEncodedStringList lines;
    for (const auto& item : items_) {
        lines.Add(item->ToText());
    }
    lines.SaveToStream(stream);
}

void TIgnoreList::LoadFile(const std::wstring& fileName)
{
    std::lock_guard guard(mutex_);
    fileName_ = fileName;
    if (GetFileAttributesW(fileName.c_str()) == INVALID_FILE_ATTRIBUTES) {
        regexTexts_.clear();
        items_.clear();
        RebuildMatchers();
        return;
    }
    TMemoryStream stream(ReadFileBytes(fileName));
    LoadFromStream(stream);
}

void TIgnoreList::SaveToFile(const std::wstring& fileName)
{
    TMemoryStream stream;
    SaveToStream(stream);
    WriteFileAtomically(fileName, stream.Bytes());
}

}  // namespace tidyhive
