// The engine's single holder of the XML report "tidyhive.xml". The scan and clean
// managers write their sections through it; the report library turns the calls into the
// file.
#pragma once

#include "engine/CommonInterfacedObject.h"

#include <wrl/client.h>

#include <initializer_list>
#include <mutex>
#include <string>
#include <utility>

namespace tidyhive {

class TLogManager : public TCommonInterfacedObject<ILogManager> {
public:
    // The process-wide log manager, created on first use. It lives until the process ends:
    // the report library keeps the file whole after every change, so nothing is lost, and
    // nothing is released while the library unloads.
    static TLogManager &Instance();

    // A log manager writing into reportFolder (with a trailing backslash); empty: the
    // user's ReportFolder. Obtains the report library's service at once.
    explicit TLogManager(std::wstring reportFolder = {});
    ~TLogManager() override;

    // Opens the report on first use, then starts it afresh with an "info" element.
    void STDMETHODCALLTYPE BeginReport() override;
    // These four do nothing until a report has begun.
    void STDMETHODCALLTYPE OpenElement(LPCWSTR name) override;
    void STDMETHODCALLTYPE CloseElement() override;
    // Closes the innermost open element of that name and everything still open inside it.
    void STDMETHODCALLTYPE CloseElementNamed(LPCWSTR name) override;
    // Sets an attribute of the innermost open element.
    void STDMETHODCALLTYPE SetAttribute(LPCWSTR name, LPCWSTR value) override;

    // An element with its attributes in the given order, closed by name:
    //   WriteElement(L"summary", {{L"categoriesCount", L"3"}, {L"scanStartTime", NowText()}});
    void WriteElement(LPCWSTR name, std::initializer_list<std::pair<LPCWSTR, std::wstring>> attributes);

    // Whether a report has begun.
    bool HasReport();

    // The user's application-data folder, "Quorvanta\", the product name, "\User Reports\".
    // Throws when the application-data folder is unknown, rather than writing elsewhere.
    static std::wstring ReportFolder();
    // The report file in this manager's folder; creates the folder with all its parents.
    std::wstring ReportFileName() const;

    // Estimate of the speed gained by fixing that many problems (the clean summary's
    // "performanceBoost"): 0 below 500; up to 5000, n / 500; above, 10 plus
    // 2 * e^(1 - 5000 / n), so 12 just above 5000 and never more than 15. Rounded to the
    // nearest integer, halves to the even neighbour.
    static LONG PerformanceBoost(LONG problemsFixed);

private:
    std::mutex mutex_; // several roots share the report
    std::wstring folder_;
    IReportManager *reportManager_; // kept by the library loader for the process
    Microsoft::WRL::ComPtr<IReport> report_;
    Microsoft::WRL::ComPtr<IXmlReport> writer_;
};

} // namespace tidyhive
