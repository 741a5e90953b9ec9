#include "clean/CategoryCleanerManager.h"

#include "clean/IgnoreListCollection.h"
#include "clean/LogManager.h"
#include "clean/RestoreManager.h"
#include "engine/BoundaryGuard.h"
#include "engine/EventManager.h"
#include "scan/DetectedProblemKeys.h"
#include "services/DateTimeText.h"
#include "services/LocalizedTexts.h"
#include "validation/ValidationAlgorithm.h"

#include <stdexcept>

namespace tidyhive {
namespace {

constexpr wchar_t kClassName[] = L"TCategoryCleanerManager";

std::wstring SessionTitle(LONG count)
{
    return FormatText(LoadText(TextKey::BACKVAULT_SESSION_TITLE).c_str(), static_cast<unsigned>(count));
}

std::wstring MessageOf(const std::exception& error)
{
    return Utf8ToWide(error.what());
}

// Whole seconds since an arbitrary origin, for the clean's total time.
ULONGLONG WholeSeconds(const SYSTEMTIME& time)
{
    FILETIME file;
    SystemTimeToFileTime(&time, &file);
    const ULONGLONG ticks = (static_cast<ULONGLONG>(file.dwHighDateTime) << 32) | file.dwLowDateTime;
    return ticks / 10000000ULL;
}

}  // namespace

TCategoryCleanerManager::TCategoryCleanerManager(TCategoryCollection* collection) : collection_(collection)
{
    if (!collection_) {
        throw std::runtime_error("Category collection was not specified.");
    }
}

TCategoryCleanerManager::~TCategoryCleanerManager()
{
    TCategoryCleanerManager::Stop();
}

void TCategoryCleanerManager::ResetCounters()
{
    fixed_ = failed_ = skipped_ = ignored_ = 0;
}

std::wstring TCategoryCleanerManager::LastSessionId() const
{
    TLockGuard guard(const_cast<TCategoryCleanerManager*>(this)->TaskLock());
    return lastSessionId_;
}

TCategoryType STDMETHODCALLTYPE TCategoryCleanerManager::GetCurrentCategoryType()
{
    TLockGuard guard(TaskLock());
    return currentCategoryType_;
}

void TCategoryCleanerManager::SetCurrentCategoryType(TCategoryType type)
{
    TLockGuard guard(TaskLock());
    currentCategoryType_ = type;
}

void STDMETHODCALLTYPE TCategoryCleanerManager::MoveIgnoredToIgnoreLists(BOOL clearProblems)
{
    GuardedVoid(L"CategoryCleanerManager - MoveIgnoredToIgnoreLists",
                [&] { MoveIgnored(clearProblems != FALSE); });
}

void TCategoryCleanerManager::MoveIgnored(bool clearProblems)
{
    bool changed = false;
    for (int i = 0; i < collection_->Count(); ++i) {
        TBaseCategoryScanner* scanner = collection_->Item(i);
        TDetectedProblemKeysCollection& problems = scanner->Problems();
        TIgnoreList* list = ignoreLists_ ? ignoreLists_->GetList(scanner->Descriptor().type) : nullptr;
        for (LONG p = 0; p < problems.Count(); ++p) {
            TDetectedProblemKey* problem = problems.Items(p);
            if (!problem || problem->Status() != ksIgnore || !list) {
                continue;
            }
            try {
                list->AddItem(problem->KeyPath(), problem->ValueName());
                changed = true;
            } catch (const std::exception& error) {
                // An entry that cannot be stored stays out of the list; the clean goes on.
                DebugLog::Failure(kClassName, L"MoveIgnoredToIgnoreLists", MessageOf(error));
            }
        }
        if (clearProblems) {
            problems.Clear();
        }
    }
    if (changed && ignoreLists_) {
        ignoreLists_->Save();
    }
}

void STDMETHODCALLTYPE TCategoryCleanerManager::Stop()
{
    GuardedVoid(L"CategoryCleanerManager - Stop", [&] {
        SetCurrentCategoryType(rctUndefined);
        TInterfacedTask<ICleanTask>::Stop();
    });
}

void TCategoryCleanerManager::Prepare()
{
    TLockGuard guard(TaskLock());
    ResetCounters();
    currentCategoryType_ = rctUndefined;
    LONG total = 0;
    for (int i = 0; i < collection_->Count(); ++i) {
        total += collection_->Item(i)->Problems().Count();
    }
    SetMaxProgress(total);
    SetProgress(0);
    MoveIgnored(false);
}

void TCategoryCleanerManager::Execute(LONG)
{
    LONG toFix = 0;
    for (int i = 0; i < collection_->Count(); ++i) {
        TDetectedProblemKeysCollection& problems = collection_->Item(i)->Problems();
        for (LONG p = 0; p < problems.Count(); ++p) {
            if (problems.Items(p)->Status() == ksFix) {
                ++toFix;
            }
        }
    }
    // Another root's clean may hold the session: wait for it, but obey a stop meanwhile.
    TBackupSession session(TRestoreManager::Instance(), SessionTitle(toFix), [] { CheckThreadMessages(); });
    {
        TLockGuard guard(TaskLock());
        lastSessionId_ = TRestoreManager::Instance().SessionId();
    }
    TLogManager& report = TLogManager::Instance();
    const auto finishSession = [&] {
        DebugLog::Log(L"Clean complete");
        session.SetTitle(SessionTitle(fixed_));
        DebugLog::Log(L"Closing session");
        session.End();
        DebugLog::Log(L"Session closed");
        SetCurrentCategoryType(rctUndefined);
    };
    try {
        report.OpenElement(L"cleanLog");
        SYSTEMTIME start;
        GetLocalTime(&start);
        report.OpenElement(L"categories");
        try {
            const int count = collection_->Count();
            for (int i = 0; i < count; ++i) {
                TBaseCategoryScanner* scanner = collection_->Item(i);
                SetCurrentCategoryType(scanner->Descriptor().type);
                report.OpenElement(L"category");
                report.SetAttribute(L"name", LoadText(scanner->Descriptor().name).c_str());
                report.OpenElement(L"problems");
                try {
                    CleanupDetectedKeys(scanner->Problems());
                } catch (...) {
                    report.CloseElementNamed(L"category");
                    scanner->Problems().Clear();
                    throw;
                }
                report.CloseElementNamed(L"category");
                scanner->Problems().Clear();
            }
        } catch (...) {
            SYSTEMTIME finish;
            GetLocalTime(&finish);
            report.CloseElementNamed(L"categories");
            LogSummary(start, finish);
            throw;
        }
        SYSTEMTIME finish;
        GetLocalTime(&finish);
        report.CloseElementNamed(L"categories");
        LogSummary(start, finish);
    } catch (...) {
        report.CloseElementNamed(L"cleanLog");
        finishSession();
        throw;
    }
    report.CloseElementNamed(L"cleanLog");
    finishSession();
}

void TCategoryCleanerManager::CleanupDetectedKeys(TDetectedProblemKeysCollection& problems)
{
    TLogManager& report = TLogManager::Instance();
    try {
        const LONG count = problems.Count();
        for (LONG index = 0; index < count; ++index) {
            CheckThreadMessages();
            TDetectedProblemKey* problem = problems.Items(index);
            report.OpenElement(L"problem");
            report.SetAttribute(L"key", problem->KeyPath().c_str());
            report.SetAttribute(L"value", problem->ValueName().c_str());
            const std::wstring description =
                problem->Algorithm ? problem->Algorithm->GetDescriptionText() : L"";
            report.SetAttribute(L"description", description.c_str());
            CleanupDetectedKey(problems, index);
            report.CloseElementNamed(L"problem");
            IncProgress();
        }
    } catch (const std::exception& error) {
        DebugLog::Failure(kClassName, L"CleanupDetectedKeys", MessageOf(error));
        throw;
    }
}

void TCategoryCleanerManager::CleanupDetectedKey(TDetectedProblemKeysCollection& problems, LONG index)
{
    TLogManager& report = TLogManager::Instance();
    try {
        switch (problems.Items(index)->Status()) {
        case ksSkip:
            ++skipped_;
            report.SetAttribute(L"status", LoadText(TextKey::CC_KEY_STATUS_SKIPPED).c_str());
            break;
        case ksFix:
            CleanupKey(problems, index);
            break;
        case ksIgnore:
            ++ignored_;
            report.SetAttribute(L"status", LoadText(TextKey::CC_KEY_STATUS_IGNORED).c_str());
            break;
        default:
            break;
        }
    } catch (const std::exception& error) {
        DebugLog::Failure(kClassName, L"CleanupDetectedKey", MessageOf(error));
        throw;
    }
}

bool TCategoryCleanerManager::CleanupKey(TDetectedProblemKeysCollection& problems, LONG index)
{
    try {
        bool fixed = false;
        try {
            fixed = problems.Items(index)->FixProblem();
        } catch (const std::exception& error) {
            DebugLog::Failure(kClassName, L"CleanupKey", MessageOf(error));
            fixed = false;
        }
        if (fixed) {
            problems.Statistics()->IncFixed();
            ++fixed_;
        } else {
            problems.Statistics()->IncFailed();
            ++failed_;
        }
        TLogManager::Instance().SetAttribute(
            L"status",
            LoadText(fixed ? TextKey::CC_KEY_STATUS_FIXED : TextKey::CC_KEY_STATUS_FAILTOFIX).c_str());
        return fixed;
    } catch (const std::exception& error) {
        DebugLog::Failure(kClassName, L"CleanupKey", MessageOf(error));
        throw;
    }
}

void TCategoryCleanerManager::LogSummary(const SYSTEMTIME& start, const SYSTEMTIME& finish)
{
    TLogManager& report = TLogManager::Instance();
    try {
        report.WriteElement(
            L"summary",
            {{L"cleanStartTime", DateTimeText(start)},
             {L"cleanFinishTime", DateTimeText(finish)},
             {L"cleanTotalTime", ElapsedText((WholeSeconds(finish) - WholeSeconds(start)) * 1000)},
             {L"problemsFixed", std::to_wstring(fixed_)},
             {L"failedToFix", std::to_wstring(failed_)},
             {L"problemsSkipped", std::to_wstring(skipped_)},
             {L"problemsIgnored", std::to_wstring(ignored_)},
             {L"performanceBoost", std::to_wstring(TLogManager::PerformanceBoost(fixed_))}});
    } catch (const std::exception& error) {
        DebugLog::Failure(kClassName, L"LogSummary", MessageOf(error));
        throw;
    }
}

void TCategoryCleanerManager::DoStarted()
{
    TEventManager::Instance().FireEvent(ekCleanStarted);
}

void TCategoryCleanerManager::DoFinished()
{
    TEventManager::Instance().FireEvent(ekCleanFinished);
}

}  // namespace tidyhive
