#include "scan/CategoryScannerManager.h"

#include "clean/LogManager.h"
#include "engine/BoundaryGuard.h"
#include "engine/EventManager.h"
#include "scan/DetectedProblemKeys.h"
#include "services/DateTimeText.h"
#include "services/LocalizedTexts.h"

#include <stdexcept>

namespace tidyhive {

TCategoryScannerManager::TCategoryScannerManager(TCategoryCollection* collection) : collection_(collection)
{
    if (!collection_) {
        throw std::runtime_error("Category collection was not specified.");
    }
}

TCategoryScannerManager::~TCategoryScannerManager()
{
    TCategoryScannerManager::Stop();
}

LONG TCategoryScannerManager::Live(LONG completed, int (TBaseCategoryScanner::*counter)() const)
{
    TLockGuard guard(TaskLock());
    return completed + (currentScanner_ ? (currentScanner_->*counter)() : 0);
}

ICategoryScanner* STDMETHODCALLTYPE TCategoryScannerManager::GetCurrentCategory()
{
    TLockGuard guard(TaskLock());
    return currentScanner_;
}

LONG STDMETHODCALLTYPE TCategoryScannerManager::GetKeysScanned()
{
    return Live(keysScanned_, &TBaseCategoryScanner::KeysScanned);
}

LONG STDMETHODCALLTYPE TCategoryScannerManager::GetValuesScanned()
{
    return Live(valuesScanned_, &TBaseCategoryScanner::ValuesScanned);
}

LONG STDMETHODCALLTYPE TCategoryScannerManager::GetValuesIgnored()
{
    return Live(valuesIgnored_, &TBaseCategoryScanner::ValuesIgnored);
}

LONG STDMETHODCALLTYPE TCategoryScannerManager::GetProblemsFound()
{
    TLockGuard guard(TaskLock());
    return problemsFound_ + (currentScanner_ ? currentScanner_->Problems().Count() : 0);
}

LONG STDMETHODCALLTYPE TCategoryScannerManager::GetCategoriesScanned()
{
    TLockGuard guard(TaskLock());
    return categoriesScanned_;
}

LONG STDMETHODCALLTYPE TCategoryScannerManager::GetCategoriesCount()
{
    return collection_->Count();
}

BSTR STDMETHODCALLTYPE TCategoryScannerManager::GetCurrentKey()
{
    return Guarded<BSTR>(L"CategoryScannerManager - GetCurrentKey", nullptr, [&]() -> BSTR {
        TLockGuard guard(TaskLock());
        if (currentScanner_) {
            return ReturnText(currentScanner_->CurrentKey());
        }
        switch (State()) {
        case tsPreparing:
            return ReturnText(LoadText(TextKey::SCANMANAGER_STATE_PREPEARING));
        case tsPaused:
            return ReturnText(LoadText(TextKey::SCANMANAGER_STATE_PAUSED));
        case tsFinished:
            return ReturnText(LoadText(TextKey::SCANMANAGER_STATE_FINISHED));
        default:
            return ReturnText(L"");
        }
    });
}

BSTR STDMETHODCALLTYPE TCategoryScannerManager::GetCurrentItemDescription()
{
    return Guarded<BSTR>(L"CategoryScannerManager - GetCurrentItemDescription", nullptr, [&] {
        TLockGuard guard(TaskLock());
        return ReturnText(currentScanner_ ? currentScanner_->CurrentItemDescription() : std::wstring());
    });
}

LONG STDMETHODCALLTYPE TCategoryScannerManager::GetProgress()
{
    const TTaskState state = State();
    if (state == tsIdle || state == tsFinished) {
        return 0;
    }
    return GetValuesScanned();
}

void STDMETHODCALLTYPE TCategoryScannerManager::Stop()
{
    GuardedVoid(L"CategoryScannerManager - Stop", [&] {
        {
            TLockGuard guard(TaskLock());
            currentScanner_ = nullptr;
        }
        TInterfacedTask<IScanTask>::Stop();
    });
}

void TCategoryScannerManager::Prepare()
{
    {
        TLockGuard guard(TaskLock());
        categoriesScanned_ = keysScanned_ = problemsFound_ = valuesIgnored_ = valuesScanned_ = 0;
        currentScanner_ = nullptr;
        SetMaxProgress(0);
        SetProgress(0);
    }
    LONG total = 0;
    for (int i = 0; i < collection_->Count(); ++i) {
        total += collection_->Item(i)->GetTotalValuesCount();  // reads the registry: outside the lock
        SetMaxProgress(total);
    }
}

void TCategoryScannerManager::Execute(LONG)
{
    TLogManager& report = TLogManager::Instance();
    const ULONGLONG started = GetTickCount64();
    const std::wstring startText = NowText();
    report.OpenElement(L"scanLog");
    try {
        const int count = collection_->Count();
        for (int i = 0; i < count; ++i) {
            TBaseCategoryScanner* scanner = collection_->Item(i);
            {
                TLockGuard guard(TaskLock());
                currentScanner_ = scanner;
            }
            scanner->Scan();
            TLockGuard guard(TaskLock());
            ++categoriesScanned_;
            keysScanned_ += scanner->KeysScanned();
            valuesIgnored_ += scanner->ValuesIgnored();
            valuesScanned_ += scanner->ValuesScanned();
            problemsFound_ += scanner->Problems().Count();
            currentScanner_ = nullptr;
        }
        const std::wstring finishText = NowText();
        report.WriteElement(L"summary", {{L"categoriesCount", std::to_wstring(count)},
                                         {L"scanStartTime", startText},
                                         {L"scanFinishTime", finishText},
                                         {L"scanTotalTime", ElapsedText(GetTickCount64() - started)},
                                         {L"totalKeysScanned", std::to_wstring(keysScanned_)},
                                         {L"totalProblemsFound", std::to_wstring(problemsFound_)},
                                         {L"totalValuesScanned", std::to_wstring(valuesScanned_)},
                                         {L"totalValuesIgnored", std::to_wstring(valuesIgnored_)}});
    } catch (...) {
        report.CloseElementNamed(L"scanLog");
        TLockGuard guard(TaskLock());
        currentScanner_ = nullptr;
        throw;
    }
    report.CloseElementNamed(L"scanLog");
    TLockGuard guard(TaskLock());
    currentScanner_ = nullptr;
}

void TCategoryScannerManager::DoStarted()
{
    TEventManager::Instance().FireEvent(ekScanStarted);
}

void TCategoryScannerManager::DoFinished()
{
    TEventManager::Instance().FireEvent(ekScanFinished);
}

}  // namespace tidyhive
