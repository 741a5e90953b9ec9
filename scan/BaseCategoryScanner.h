// Common behaviour of every category scanner.
#pragma once

#include "engine/CategoryType.h"
#include "engine/CommonInterfacedObject.h"

#include <memory>
#include <string>

namespace tidyhive {

class TIgnoreList;

class TBaseCategoryScanner : public TCommonInterfacedObject<ICategoryScanner> {
public:
    explicit TBaseCategoryScanner(const TCategoryDescriptor& descriptor);
    ~TBaseCategoryScanner() override;

    // ICategoryScanner
    TCategoryType STDMETHODCALLTYPE GetCategoryType() override;
    BSTR STDMETHODCALLTYPE GetName() override;
    BSTR STDMETHODCALLTYPE GetDescription() override;
    BSTR STDMETHODCALLTYPE GetDetailedDescription() override;
    BOOL STDMETHODCALLTYPE GetCategoryFlag() override;

    const TCategoryDescriptor& Descriptor() const { return descriptor_; }
    // The user's ignore list of this category (not owned); may be null.
    void SetUserIgnoreList(TIgnoreList* list) { userIgnoreList_ = list; }
    TIgnoreList* UserIgnoreList() const { return userIgnoreList_; }
    TIgnoreList& DefaultIgnoreList() const { return *defaultIgnoreList_; }
    // Covered by the built-in list, or else by the user's list.
    virtual bool IsIgnored(const std::wstring& key, const std::wstring& value);

private:
    const TCategoryDescriptor& descriptor_;
    TIgnoreList* userIgnoreList_ = nullptr;
    std::unique_ptr<TIgnoreList> defaultIgnoreList_;
};

}  // namespace tidyhive
