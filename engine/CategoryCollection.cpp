#include "engine/CategoryCollection.h"

#include "clean/IgnoreListCollection.h"
#include "engine/BoundaryGuard.h"
#include "engine/CategoryScannersFactory.h"

namespace tidyhive {

LONG STDMETHODCALLTYPE TCategoryCollection::GetCount()
{
    return static_cast<LONG>(scanners_.size());
}

ICategoryScanner* STDMETHODCALLTYPE TCategoryCollection::GetItem(LONG index)
{
    return Item(index);
}

ICategoryScanner* STDMETHODCALLTYPE TCategoryCollection::GetItemByType(TCategoryType type)
{
    return ScannerOfType(type);
}

ICategoryScanner* STDMETHODCALLTYPE TCategoryCollection::AddCategory(TCategoryType type)
{
    return Guarded<ICategoryScanner*>(L"CategoryCollection - AddCategory", nullptr, [&]() -> ICategoryScanner* {
        if (locked_ || ScannerOfType(type)) {
            return nullptr;
        }
        std::unique_ptr<TBaseCategoryScanner> scanner = TCategoryScannersFactory::Instance().CreateScanner(type);
        if (!scanner) {
            return nullptr;
        }
        GiveIgnoreList(*scanner);
        scanners_.push_back(std::move(scanner));
        return scanners_.back().get();
    });
}

LONG STDMETHODCALLTYPE TCategoryCollection::IndexOfCategory(TCategoryType type)
{
    for (size_t i = 0; i < scanners_.size(); ++i) {
        if (scanners_[i]->GetCategoryType() == type) {
            return static_cast<LONG>(i);
        }
    }
    return -1;
}

void STDMETHODCALLTYPE TCategoryCollection::RemoveCategory(TCategoryType type)
{
    if (locked_) {
        return;
    }
    const LONG index = IndexOfCategory(type);
    if (index >= 0) {
        scanners_.erase(scanners_.begin() + index);
    }
}

void STDMETHODCALLTYPE TCategoryCollection::Clear()
{
    if (!locked_) {
        scanners_.clear();
    }
}

void STDMETHODCALLTYPE TCategoryCollection::AddDefaultCategories()
{
    AddCategories(false);
}

void STDMETHODCALLTYPE TCategoryCollection::AddAllCategories()
{
    AddCategories(true);
}

void TCategoryCollection::AddCategories(bool includeFlagged)
{
    const TCategoryScannersFactory& factory = TCategoryScannersFactory::Instance();
    for (int type = rctClasses; type <= rctInternet; ++type) {
        const auto categoryType = static_cast<TCategoryType>(type);
        if (factory.HasScannerClass(categoryType) && (includeFlagged || !factory.GetCategoryFlag(categoryType))) {
            AddCategory(categoryType);
        }
    }
}

void TCategoryCollection::SetIgnoreLists(TIgnoreListCollection* lists)
{
    ignoreLists_ = lists;
    for (auto& scanner : scanners_) {
        GiveIgnoreList(*scanner);
    }
}

TBaseCategoryScanner* TCategoryCollection::Item(int index) const
{
    if (index < 0 || index >= static_cast<int>(scanners_.size())) {
        return nullptr;
    }
    return scanners_[static_cast<size_t>(index)].get();
}

TBaseCategoryScanner* TCategoryCollection::ScannerOfType(TCategoryType type) const
{
    for (const auto& scanner : scanners_) {
        if (scanner->Descriptor().type == type) {
            return scanner.get();
        }
    }
    return nullptr;
}

void TCategoryCollection::GiveIgnoreList(TBaseCategoryScanner& scanner)
{
    scanner.SetUserIgnoreList(ignoreLists_ ? ignoreLists_->GetList(scanner.Descriptor().type) : nullptr);
}

}  // namespace tidyhive
