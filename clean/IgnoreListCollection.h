// The user's ignore lists, one per category type, kept in the file "tidyhive.igl".
#pragma once

#include "clean/IgnoreList.h"

#include <array>
#include <memory>
#include <string>

namespace tidyhive {

class TIgnoreListCollection {
public:
    TIgnoreListCollection();

    // The list of a category type; null above rctInternet.
    TIgnoreList* GetList(TCategoryType type) const;
    void ClearAll();
    // Loads every list from the file. A file the container reader rejects is kept aside
    // under a name that says so (never deleted), the user is told, and the lists start empty.
    // Answers the name the corrupt file was kept under, or an empty text.
    std::wstring Load(const std::wstring& fileName);
    // Writes every list that holds items; with none, removes the file.
    void Save();
    const std::wstring& FileName() const { return fileName_; }

private:
    std::array<std::unique_ptr<TIgnoreList>, kCategoryTypeCount> lists_;
    std::wstring fileName_;
};

// "<app data>Quorvanta\Registry Cleaner\tidyhive.igl"
std::wstring UserIgnoreListFileName();

}  // namespace tidyhive
