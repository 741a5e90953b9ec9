// An ignore list: items compiled into as few alternations as possible, so that testing an
// entry against a long list costs a handful of expression searches.
#pragma once

#include "clean/IgnoreItem.h"
#include "clean/MemoryStream.h"
#include "engine/CommonInterfacedObject.h"
#include "services/PerlRegEx.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tidyhive {

// Raised when an item cannot be stored in a list (a line break or the item markup in it).
class EIgnoreItemRefused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Replaces a file through a temporary file and an atomic rename, creating its folder first,
// so a crash during the write leaves the previous file intact.
void WriteFileAtomically(const std::wstring& fileName, const std::vector<std::uint8_t>& bytes);
// A whole ignore-list file (at most 64 MiB); throws std::runtime_error naming the file.
std::vector<std::uint8_t> ReadFileBytes(const std::wstring& fileName);

class TIgnoreList : public TCommonInterfacedObject<IIgnoreList> {
public:
    // A combined alternation is cut once it reaches this many characters.
    static constexpr size_t kGroupPatternLimit = 7000;

    TIgnoreList();
    ~TIgnoreList() override;

    // IIgnoreList
    LONG STDMETHODCALLTYPE Add(LPCWSTR key, LPCWSTR value) override;
    void STDMETHODCALLTYPE DeleteItem(LONG index) override;
    void STDMETHODCALLTYPE Clear() override;
    BOOL STDMETHODCALLTYPE IsIgnored(LPCWSTR key, LPCWSTR value) override;
    LONG STDMETHODCALLTYPE IndexOfDisplay(LPCWSTR display) override;
    IIgnoreItem* STDMETHODCALLTYPE GetItem(LONG index) override;
    LONG STDMETHODCALLTYPE GetCount() override;
    void STDMETHODCALLTYPE LoadFromFile(LPCWSTR fileName) override;
    void STDMETHODCALLTYPE Save() override;

    // Engine side. Every operation takes the list's lock, so the host may edit a list while
    // a scan reads it.
    int AddItem(const std::wstring& key, const std::wstring& value);  // throws EIgnoreItemRefused
    bool Ignored(const std::wstring& key, const std::wstring& value);
    int Count();
    // Clears the list, then reads a stored list text. Unreadable lines and items of unknown
    // classes are left out and logged; answers how many lines were left out.
    size_t LoadFromStream(TStream& stream);
    void SaveToStream(TStream& stream);
    void LoadFile(const std::wstring& fileName);
    // Writes through a temporary file and an atomic rename.
    void SaveToFile(const std::wstring& fileName);
    std::vector<std::wstring> Displays();
    size_t GroupCount();

    // Called by items.
    void ItemChanged(TCustomIgnoreItem* item);
    void DeleteItemObject(TCustomIgnoreItem* item);

private:
    void Append(std::unique_ptr<TCustomIgnoreItem> item);
    void RebuildMatchers();
    void FlushGroup(std::wstring& pattern, size_t& groupCount);

    std::recursive_mutex mutex_;
    std::vector<std::unique_ptr<TCustomIgnoreItem>> items_;
    std::vector<std::wstring> regexTexts_;
    std::vector<std::unique_ptr<TPerlRegEx>> groups_;
    std::wstring fileName_;
};

}  // namespace tidyhive
