#include "scan/BaseCategoryScanner.h"

#include "engine/BoundaryGuard.h"

namespace tidyhive {

TBaseCategoryScanner::TBaseCategoryScanner(const TCategoryDescriptor& descriptor) : descriptor_(descriptor) {}

TCategoryType STDMETHODCALLTYPE TBaseCategoryScanner::GetCategoryType()
{
    return descriptor_.type;
}

BSTR STDMETHODCALLTYPE TBaseCategoryScanner::GetName()
{
    return ReturnText(LoadText(descriptor_.name));
}

BSTR STDMETHODCALLTYPE TBaseCategoryScanner::GetDescription()
{
    return ReturnText(LoadText(descriptor_.description));
}

BSTR STDMETHODCALLTYPE TBaseCategoryScanner::GetDetailedDescription()
{
    return ReturnText(LoadText(descriptor_.detailedDescription));
}

BOOL STDMETHODCALLTYPE TBaseCategoryScanner::GetCategoryFlag()
{
    return descriptor_.flag ? TRUE : FALSE;
}

}  // namespace tidyhive
