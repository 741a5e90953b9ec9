// Common behaviour of every category scanner.
#pragma once

#include "engine/CategoryType.h"
#include "engine/CommonInterfacedObject.h"

#include <memory>
#include <string>

namespace tidyhive {

class TIgnoreList;
class TDetectedProblemKeysCollection;

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
    // What the scan manager uses: the counting and validating passes, live counters, the
    // problems found, and the entry being scanned.
    virtual int GetTotalValuesCount() { return 0; }
    virtual void Scan() {}
    int KeysScanned() const { return keysScanned_; }
    int ValuesScanned() const { return valuesScanned_; }
    int ValuesIgnored() const { return valuesIgnored_; }
    TDetectedProblemKeysCollection& Problems() { return *problems_; }
    std::wstring CurrentKey() { return {}; }
    std::wstring CurrentItemDescription() { return {}; }

    // Covered by the built-in list, or else by the user's list.
    virtual bool IsIgnored(const std::wstring& key, const std::wstring& value);

private:
    const TCategoryDescriptor& descriptor_;
    TIgnoreList* userIgnoreList_ = nullptr;
    std::unique_ptr<TIgnoreList> defaultIgnoreList_;
    std::unique_ptr<TDetectedProblemKeysCollection> problems_;
    int keysScanned_ = 0;
    int valuesScanned_ = 0;
    int valuesIgnored_ = 0;
};

}  // namespace tidyhive
