// The scan task: walks the enabled categories in order on its worker thread, adds up what
// their scanners counted and writes the scan summary into the report.
#pragma once

#include "engine/CategoryCollection.h"
#include "scan/Task.h"

namespace tidyhive {

class TCategoryScannerManager : public TInterfacedTask<IScanTask> {
public:
    // Raises "Category collection was not specified." without a collection.
    explicit TCategoryScannerManager(TCategoryCollection* collection);
    ~TCategoryScannerManager() override;

    // IScanTask
    ICategoryScanner* STDMETHODCALLTYPE GetCurrentCategory() override;
    LONG STDMETHODCALLTYPE GetKeysScanned() override;
    LONG STDMETHODCALLTYPE GetValuesScanned() override;
    LONG STDMETHODCALLTYPE GetCategoriesScanned() override;
    LONG STDMETHODCALLTYPE GetCategoriesCount() override;
    BSTR STDMETHODCALLTYPE GetCurrentKey() override;
    BSTR STDMETHODCALLTYPE GetCurrentItemDescription() override;
    LONG STDMETHODCALLTYPE GetValuesIgnored() override;
    LONG STDMETHODCALLTYPE GetProblemsFound() override;
    LONG STDMETHODCALLTYPE GetProgress() override;
    void STDMETHODCALLTYPE Stop() override;

protected:
    void Prepare() override;
    void Execute(LONG param) override;
    void DoStarted() override;
    void DoFinished() override;

private:
    // Sums of the completed categories plus the current scanner's live counter.
    LONG Live(LONG completed, int (TBaseCategoryScanner::*counter)() const);

    TCategoryCollection* collection_;
    LONG categoriesScanned_ = 0;
    LONG keysScanned_ = 0;
    LONG problemsFound_ = 0;
    LONG valuesIgnored_ = 0;
    LONG valuesScanned_ = 0;
    TBaseCategoryScanner* currentScanner_ = nullptr;  // under the task lock
};

}  // namespace tidyhive
