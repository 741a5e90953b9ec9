#include "clean/LogManager.h"

#include "engine/BoundaryGuard.h"
#include "services/DateTimeText.h"
#include "services/HostLibraries.h"

#include <cmath>
#include <stdexcept>

namespace tidyhive {
namespace {

// Creates a folder and its missing parents; an existing folder is no error and failures
// are left for the writer of the file to meet.
void CreateFolderWithParents(std::wstring folder)
{
    while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) {
        folder.pop_back();
    }
    const bool drive = folder.size() == 2 && folder[1] == L':';
    if (folder.empty() || drive || GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return;
    }
    const size_t slash = folder.find_last_of(L"\\/");
    if (slash != std::wstring::npos && slash > 0) {
        CreateFolderWithParents(folder.substr(0, slash));
    }
    CreateDirectoryW(folder.c_str(), nullptr);
}

double RoundHalfToEven(double value)
{
    const double lower = std::floor(value);
    const double fraction = value - lower;
    if (fraction > 0.5) {
        return lower + 1;
    }
    if (fraction < 0.5) {
        return lower;
    }
    return std::fmod(lower, 2.0) == 0 ? lower : lower + 1;
}

std::mutex &InstanceMutex()
{
    static std::mutex mutex;
    return mutex;
}

} // namespace

TLogManager &TLogManager::Instance()
{
    static TLogManager *instance = nullptr;
    std::lock_guard guard(InstanceMutex());
    if (!instance) {
        instance = new TLogManager();
    }
    return *instance;
}

TLogManager::TLogManager(std::wstring reportFolder)
    : folder_(std::move(reportFolder)), reportManager_(GetReportGenerator())
{
}

TLogManager::~TLogManager() = default;

void STDMETHODCALLTYPE TLogManager::BeginReport()
{
    GuardedVoid(L"LogManager - BeginReport", [&] {
        std::lock_guard guard(mutex_);
        if (!report_) {
            const std::wstring fileName = ReportFileName();
            Microsoft::WRL::ComPtr<IReport> report;
            Microsoft::WRL::ComPtr<IXmlReport> writer;
            if (FAILED(reportManager_->OpenReport(fileName.c_str(), &report)) || !report ||
                FAILED(report->GetXmlReport(&writer)) || !writer) {
                DebugLog::Failure(L"TLogManager", L"BeginReport",
                                  L"the report cannot be opened: " + fileName);
                return;
            }
            report_ = std::move(report);
            writer_ = std::move(writer);
        }
        const std::wstring user = SiblingText(GetGlobals(), &IGlobals::GetUserName);
        writer_->Reset();
        writer_->OpenElement(L"info");
        writer_->SetAttribute(L"reportTime", NowText().c_str());
        writer_->SetAttribute(L"user", user.c_str());
        writer_->CloseElement();
    });
}

void STDMETHODCALLTYPE TLogManager::OpenElement(LPCWSTR name)
{
    GuardedVoid(L"LogManager - OpenElement", [&] {
        std::lock_guard guard(mutex_);
        if (writer_) {
            writer_->OpenElement(name ? name : L"");
        }
    });
}

void STDMETHODCALLTYPE TLogManager::CloseElement()
{
    GuardedVoid(L"LogManager - CloseElement", [&] {
        std::lock_guard guard(mutex_);
        if (writer_) {
            writer_->CloseElement();
        }
    });
}

void STDMETHODCALLTYPE TLogManager::CloseElementNamed(LPCWSTR name)
{
    GuardedVoid(L"LogManager - CloseElementNamed", [&] {
        std::lock_guard guard(mutex_);
        if (writer_) {
            writer_->CloseElementNamed(name ? name : L"");
        }
    });
}

void STDMETHODCALLTYPE TLogManager::SetAttribute(LPCWSTR name, LPCWSTR value)
{
    GuardedVoid(L"LogManager - SetAttribute", [&] {
        std::lock_guard guard(mutex_);
        if (writer_) {
            writer_->SetAttribute(name ? name : L"", value ? value : L"");
        }
    });
}

void TLogManager::WriteElement(LPCWSTR name,
                               std::initializer_list<std::pair<LPCWSTR, std::wstring>> attributes)
{
    OpenElement(name);
    for (const auto &[attribute, value] : attributes) {
        SetAttribute(attribute, value.c_str());
    }
    CloseElementNamed(name);
}

bool TLogManager::HasReport()
{
    std::lock_guard guard(mutex_);
    return writer_ != nullptr;
}

std::wstring TLogManager::ReportFolder()
{
    std::wstring appData = SiblingText(GetHelper(), &ISysHelper::GetAppDataFolder);
    if (appData.empty()) {
        throw std::runtime_error("the application-data folder is unknown");
    }
    if (appData.back() != L'\\') {
        appData += L'\\';
    }
    return appData + L"Quorvanta\\" + SiblingText(GetGlobals(), &IGlobals::GetProductName) +
           L"\\User Reports\\";
}

std::wstring TLogManager::ReportFileName() const
{
    std::wstring folder = folder_.empty() ? ReportFolder() : folder_;
    if (folder.back() != L'\\') {
        folder += L'\\';
    }
    CreateFolderWithParents(folder);
    return folder + L"tidyhive.xml";
}

LONG TLogManager::PerformanceBoost(LONG problemsFixed)
{
    if (problemsFixed < 500) {
        return 0;
    }
    const double n = problemsFixed;
    if (problemsFixed <= 5000) {
        return static_cast<LONG>(RoundHalfToEven(n / 500));
    }
    return 10 + static_cast<LONG>(RoundHalfToEven(2 * std::exp(1 - 5000 / n)));
}

} // namespace tidyhive
