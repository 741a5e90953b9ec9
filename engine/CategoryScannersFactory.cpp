#include "engine/CategoryScannersFactory.h"

#include "categories/FileExtsCategoryScanner.h"
#include "categories/StartupCategoryScanner.h"
#include "engine/BoundaryGuard.h"

namespace tidyhive {

TCategoryScannersFactory& TCategoryScannersFactory::Instance()
{
    static TCategoryScannersFactory factory;  // stateless: a function-local static is enough
    return factory;
}

bool TCategoryScannersFactory::HasScannerClass(TCategoryType type) const
{
    return FindCategoryDescriptor(type) != nullptr;
}

bool TCategoryScannersFactory::GetCategoryFlag(TCategoryType type) const
{
    const TCategoryDescriptor* descriptor = FindCategoryDescriptor(type);
    return descriptor && descriptor->flag;
}

std::unique_ptr<TBaseCategoryScanner>
TCategoryScannersFactory::CreateScanner(TCategoryType type) const noexcept
{
    const TCategoryDescriptor* descriptor = FindCategoryDescriptor(type);
    if (!descriptor) {
        return nullptr;
    }
    return Guarded(L"CategoryScannersFactory - CreateScanner", std::unique_ptr<TBaseCategoryScanner>(),
                   [&]() -> std::unique_ptr<TBaseCategoryScanner> {
                       switch (type) {
                       case rctFileExts:
                           return std::make_unique<TFileExtsCategoryScanner>(*descriptor);
                       case rctStartup:
                           return std::make_unique<TStartupCategoryScanner>(*descriptor);
                       default:
                           return std::make_unique<TBaseCategoryScanner>(*descriptor);
                       }
                   });
}

}  // namespace tidyhive
