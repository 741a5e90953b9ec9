// The ordered set of enabled categories, one scanner per type, walked by both tasks.
#pragma once

#include "engine/CommonInterfacedObject.h"
#include "scan/BaseCategoryScanner.h"

#include <memory>
#include <vector>

namespace tidyhive {

class TIgnoreListCollection;

class TCategoryCollection : public TCommonInterfacedObject<ICategoryCollection> {
public:
    TCategoryCollection() = default;

    // ICategoryCollection
    LONG STDMETHODCALLTYPE GetCount() override;
    ICategoryScanner* STDMETHODCALLTYPE GetItem(LONG index) override;
    ICategoryScanner* STDMETHODCALLTYPE GetItemByType(TCategoryType type) override;
    ICategoryScanner* STDMETHODCALLTYPE AddCategory(TCategoryType type) override;
    LONG STDMETHODCALLTYPE IndexOfCategory(TCategoryType type) override;
    void STDMETHODCALLTYPE RemoveCategory(TCategoryType type) override;
    void STDMETHODCALLTYPE Clear() override;
    void STDMETHODCALLTYPE AddDefaultCategories() override;
    void STDMETHODCALLTYPE AddAllCategories() override;

    // Used by the root and the tasks.
    void SetIgnoreLists(TIgnoreListCollection* lists);
    int Count() const { return static_cast<int>(scanners_.size()); }
    TBaseCategoryScanner* Item(int index) const;
    TBaseCategoryScanner* ScannerOfType(TCategoryType type) const;
    bool Locked() const { return locked_; }
    void SetLocked(bool value) { locked_ = value; }

private:
    void GiveIgnoreList(TBaseCategoryScanner& scanner);
    void AddCategories(bool includeFlagged);

    std::vector<std::unique_ptr<TBaseCategoryScanner>> scanners_;
    TIgnoreListCollection* ignoreLists_ = nullptr;
    // Written only by the root's task hooks: membership is fixed while a task runs.
    volatile bool locked_ = false;
};

}  // namespace tidyhive
