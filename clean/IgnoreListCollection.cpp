#include "clean/IgnoreListCollection.h"

#include "clean/LibStream.h"
#include "engine/CategoryType.h"
#include "services/DebugLog.h"
#include "services/Text.h"
#include "services/HostLibraries.h"
#include "services/LocalizedTexts.h"

#include <windows.h>

#include <algorithm>

namespace tidyhive {
namespace {

// "tidyhive.igl" becomes "tidyhive.igl.corrupt-20261210-051500".
std::wstring KeepAside(const std::wstring& fileName)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    const std::wstring aside =
        fileName + FormatText(L".corrupt-%04u%02u%02u-%02u%02u%02u", now.wYear, now.wMonth, now.wDay,
                              now.wHour, now.wMinute, now.wSecond);
    if (!MoveFileExW(fileName.c_str(), aside.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        return {};
    }
    return aside;
}

std::string CategoryEntryName(TCategoryType type)
{
    return WideToUtf8(CategoryTypeToName(type));
}

}  // namespace

std::wstring UserIgnoreListFileName()
{
    return SiblingText(GetHelper(), &ISysHelper::GetAppDataFolder) +
           L"Quorvanta\\Registry Cleaner\\tidyhive.igl";
}

TIgnoreListCollection::TIgnoreListCollection()
{
    for (auto& list : lists_) {
        list = std::make_unique<TIgnoreList>();
    }
}

TIgnoreList* TIgnoreListCollection::GetList(TCategoryType type) const
{
    return type < lists_.size() ? lists_[type].get() : nullptr;
}

void TIgnoreListCollection::ClearAll()
{
    for (auto& list : lists_) {
        list->Clear();
    }
}

std::wstring TIgnoreListCollection::Load(const std::wstring& fileName)
{
    fileName_ = Trim(fileName);
    if (GetFileAttributesW(fileName_.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return {};
    }
    try {
        std::vector<std::uint8_t> bytes;
        try {
            bytes = ReadFileBytes(fileName_);
        } catch (const std::runtime_error& error) {
            // Unreadable now (locked, too large): the file stays as it is for the next start.
            DebugLog::Log(L"IgnoreListCollection - Load - " + Utf8ToWide(error.what()));
            return {};
        }
        TMemoryStream stream(std::move(bytes));
        TLibStream container(&stream);
        for (int type = 0; type < kCategoryTypeCount; ++type) {
            if (auto entry = container.ReadEntry(CategoryEntryName(static_cast<TCategoryType>(type)))) {
                lists_[static_cast<size_t>(type)]->LoadFromStream(*entry);
            }
        }
    } catch (const ELibStreamError& error) {
        ClearAll();
        const std::wstring aside = KeepAside(fileName_);
        DebugLog::Log(L"IgnoreListCollection - Load - " + Utf8ToWide(error.what()) +
                      L"; the file was kept as " +
                      (aside.empty() ? std::wstring(L"(it could not be moved)") : aside));
        ShowMessageBox(LoadText(TextKey::IGNORE_LIST_INVALID), MB_ICONINFORMATION);
        return aside;
    }
    return {};
}

void TIgnoreListCollection::Save()
{
    if (fileName_.empty()) {
        return;
    }
    TLibStream container;
    for (int type = 0; type < kCategoryTypeCount; ++type) {
        TIgnoreList& list = *lists_[static_cast<size_t>(type)];
        if (list.Count() > 0) {
            TMemoryStream data;
            list.SaveToStream(data);
            container.WriteEntry(CategoryEntryName(static_cast<TCategoryType>(type)), &data);
        }
    }
    if (container.EntryCount() == 0) {
        DeleteFileW(fileName_.c_str());
        return;
    }
    TMemoryStream image;
    container.SaveToStream(image);
    WriteFileAtomically(fileName_, image.Bytes());
}

}  // namespace tidyhive
