#include "scan/BaseCategoryScanner.h"

#include "clean/DefaultIgnoreLists.h"
#include "clean/IgnoreList.h"
#include "engine/BoundaryGuard.h"
#include "scan/DetectedProblemKeys.h"

namespace tidyhive {

TBaseCategoryScanner::TBaseCategoryScanner(const TCategoryDescriptor& descriptor)
    : descriptor_(descriptor), defaultIgnoreList_(std::make_unique<TIgnoreList>()),
      problems_(std::make_unique<TDetectedProblemKeysCollection>(descriptor.type))
{
    LoadDefaultIgnoreList(descriptor_.type, *defaultIgnoreList_);
}

TBaseCategoryScanner::~TBaseCategoryScanner() = default;

bool TBaseCategoryScanner::IsIgnored(const std::wstring& key, const std::wstring& value)
{
    return defaultIgnoreList_->Ignored(key, value) || (userIgnoreList_ && userIgnoreList_->Ignored(key, value));
}

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
