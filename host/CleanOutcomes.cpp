#include "host/CleanOutcomes.h"

#include "host/CategoryNames.h"
#include "host/Console.h"
#include "host/TaskRunner.h"
#include "tidyhive/Siblings.h"

#include <windows.h>
#include <msxml2.h>
#include <shlwapi.h>
#include <wrl/client.h>

#include <algorithm>
#include <array>
#include <cwctype>

using Microsoft::WRL::ComPtr;

namespace tidyhive::host {
namespace {

// The program name the engine gives its backup sessions.
constexpr wchar_t kCleanProgram[] = L"Registry Cleaner";

// DOMDocument30: the version-stamped parser of MSXML 3, present in every Windows and in Wine.
constexpr CLSID kDomDocument30 = {
    0xF5078F32, 0xC551, 0x11D3, {0x89, 0xB9, 0x00, 0x00, 0xF8, 0x1F, 0xE2, 0x21}};

// COM for this thread while the parser is used; a thread that has COM already keeps it.
class TComScope {
public:
    TComScope() : status_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~TComScope()
    {
        if (SUCCEEDED(status_)) {
            CoUninitialize();
        }
    }
    TComScope(const TComScope&) = delete;
    TComScope& operator=(const TComScope&) = delete;

private:
    HRESULT status_;
};

class TBstr {
public:
    explicit TBstr(const wchar_t* text) : text_(SysAllocString(text)) {}
    ~TBstr() { SysFreeString(text_); }
    TBstr(const TBstr&) = delete;
    TBstr& operator=(const TBstr&) = delete;
    BSTR get() const { return text_; }

private:
    BSTR text_;
};

class TVariant {
public:
    TVariant() { VariantInit(&value_); }
    ~TVariant() { VariantClear(&value_); }
    TVariant(const TVariant&) = delete;
    TVariant& operator=(const TVariant&) = delete;
    VARIANT* operator&() { return &value_; }
    const VARIANT& get() const { return value_; }

private:
    VARIANT value_;
};

// A sibling library's service, asked of the library the engine has loaded already.
template <class Interface>
ComPtr<Interface> SiblingService(const wchar_t* library, const char* identifier, REFIID iid)
{
    ComPtr<Interface> service;
    // The library stays loaded: the engine uses it for the life of the process.
    HMODULE module = LoadLibraryW(library);
    const auto getInstance =
        module ? reinterpret_cast<GetInstanceFn>(GetProcAddress(module, kGetInstanceExport)) : nullptr;
    ComPtr<IUnknown> instance;
    if (getInstance) {
        instance.Attach(getInstance(identifier, 0));
    }
    if (instance) {
        instance->QueryInterface(iid, reinterpret_cast<void**>(service.GetAddressOf()));
    }
    return service;
}

// Text as the report can carry it: characters XML 1.0 cannot hold (control characters
// other than tab, CR and LF, lone surrogates, U+FFFE and U+FFFF) read back as U+FFFD.
std::wstring AsReported(const std::wstring& text)
{
    std::wstring result = text;
    for (size_t i = 0; i < result.size(); ++i) {
        const wchar_t c = result[i];
        const bool high = c >= 0xD800 && c <= 0xDBFF;
        const bool low = c >= 0xDC00 && c <= 0xDFFF;
        if (high && i + 1 < result.size() && result[i + 1] >= 0xDC00 && result[i + 1] <= 0xDFFF) {
            ++i;  // a whole pair
        } else if ((c < 0x20 && c != 0x9 && c != 0xA && c != 0xD) || high || low || c == 0xFFFE ||
                   c == 0xFFFF) {
            result[i] = 0xFFFD;
        }
    }
    return result;
}

bool Names(const std::wstring& status, const std::wstring& outcomeText)
{
    return AsReported(status) == AsReported(outcomeText);
}

std::wstring NodeName(IXMLDOMNode* node)
{
    BSTR name = nullptr;
    node->get_nodeName(&name);
    return TakeText(name);
}

// The child elements of a node with that name, in document order.
std::vector<ComPtr<IXMLDOMElement>> ChildElements(IXMLDOMNode* parent, const wchar_t* name)
{
    std::vector<ComPtr<IXMLDOMElement>> result;
    ComPtr<IXMLDOMNodeList> children;
    if (FAILED(parent->get_childNodes(&children)) || !children) {
        return result;
    }
    long count = 0;
    children->get_length(&count);
    for (long i = 0; i < count; ++i) {
        ComPtr<IXMLDOMNode> child;
        DOMNodeType type = NODE_INVALID;
        if (FAILED(children->get_item(i, &child)) || !child || FAILED(child->get_nodeType(&type)) ||
            type != NODE_ELEMENT || NodeName(child.Get()) != name) {
            continue;
        }
        ComPtr<IXMLDOMElement> element;
        if (SUCCEEDED(child->QueryInterface(IID_IXMLDOMElement,
                                            reinterpret_cast<void**>(element.GetAddressOf())))) {
            result.push_back(element);
        }
    }
    return result;
}

std::optional<std::wstring> Attribute(IXMLDOMElement* element, const wchar_t* name)
{
    TBstr attribute(name);
    TVariant value;
    if (element->getAttribute(attribute.get(), &value) != S_OK || value.get().vt != VT_BSTR) {
        return std::nullopt;
    }
    const BSTR text = value.get().bstrVal;
    return text ? std::wstring(text, SysStringLen(text)) : std::wstring();
}

}  // namespace

const wchar_t* OutcomeName(TCleanOutcome outcome)
{
    switch (outcome) {
    case TCleanOutcome::Fixed:
        return L"fixed";
    case TCleanOutcome::Failed:
        return L"failed";
    case TCleanOutcome::Skipped:
        return L"skipped";
    case TCleanOutcome::Ignored:
        return L"ignored";
    case TCleanOutcome::Unprocessed:
        return L"unprocessed";
    default:
        return L"unknown";
    }
}

const wchar_t* OutcomeText(TCleanOutcome outcome)
{
    switch (outcome) {
    case TCleanOutcome::Fixed:
        return L"Fixed";
    case TCleanOutcome::Failed:
        return L"Failed to fix";
    case TCleanOutcome::Skipped:
        return L"Skipped";
    case TCleanOutcome::Ignored:
        return L"Moved to ignore list";
    case TCleanOutcome::Unprocessed:
        return L"Not processed";
    default:
        return L"Outcome unknown";
    }
}

std::wstring OutcomeJson(const TProblemRecord& problem, TCleanOutcome outcome)
{
    return ProblemJson(problem, L", \"outcome\": " + JsonString(OutcomeName(outcome)));
}

std::wstring OutcomeLine(const TProblemRecord& problem, TCleanOutcome outcome)
{
    return std::wstring(OutcomeText(outcome)) + L"\t" + CategoryTypeName(problem.type) + L"\t" + problem.key +
           L"\t" + problem.value;
}

TCleanPlan RecordCleanPlan(IRegistryCleanerManager* root)
{
    TCleanPlan plan;
    ICategoryCollection* categories = root->GetCategories();
    for (LONG i = 0; i < categories->GetCount(); ++i) {
        ICategoryScanner* scanner = categories->GetItem(i);
        TCategoryRecord category;
        category.type = scanner->GetCategoryType();
        category.name = TakeText(scanner->GetName());
        IDetectedProblemKeysCollection* problems = root->GetDetectedKeys(category.type);
        const LONG count = problems ? problems->GetCount() : 0;
        for (LONG p = 0; p < count; ++p) {
            if (IDetectedProblemKey* problem = problems->GetItem(p)) {
                category.problems.push_back(RecordOf(category.type, problem));
            }
        }
        plan.push_back(std::move(category));
    }
    return plan;
}

TOutcomeTexts DefaultOutcomeTexts()
{
    return {L"Fixed", L"Failed to fix!", L"Skipped", L"Moved to ignore list"};
}

TOutcomeTexts EngineOutcomeTexts()
{
    TOutcomeTexts texts = DefaultOutcomeTexts();
    const ComPtr<ILocalizer> localizer =
        SiblingService<ILocalizer>(L"Lingmoor.dll", kLocalizerInstanceId, IID_ILocalizer);
    if (!localizer) {
        return texts;
    }
    const std::array<std::pair<const wchar_t*, std::wstring*>, 4> keys = {{
        {L"CC_KEY_STATUS_FIXED", &texts.fixed},
        {L"CC_KEY_STATUS_FAILTOFIX", &texts.failed},
        {L"CC_KEY_STATUS_SKIPPED", &texts.skipped},
        {L"CC_KEY_STATUS_IGNORED", &texts.ignored},
    }};
    for (const auto& [key, text] : keys) {
        BSTR translated = nullptr;
        if (SUCCEEDED(localizer->Translate(key, &translated)) && translated) {
            *text = TakeText(translated);
        } else {
            SysFreeString(translated);
        }
    }
    return texts;
}

TCleanOutcome OutcomeOf(const std::optional<std::wstring>& status, BYTE marked, const TOutcomeTexts& texts)
{
    if (!status) {
        return TCleanOutcome::Unknown;
    }
    const auto names = [&](const std::wstring& outcomeText) { return Names(*status, outcomeText); };
    switch (marked) {
    case psSkip:
        return names(texts.skipped) ? TCleanOutcome::Skipped : TCleanOutcome::Unknown;
    case psIgnore:
        return names(texts.ignored) ? TCleanOutcome::Ignored : TCleanOutcome::Unknown;
    case psFix: {
        const bool fixed = names(texts.fixed);
        const bool failed = names(texts.failed);
        if (fixed != failed) {
            return fixed ? TCleanOutcome::Fixed : TCleanOutcome::Failed;
        }
        return TCleanOutcome::Unknown;
    }
    default:
        return TCleanOutcome::Unknown;
    }
}

bool ParseCleanLog(const std::string& bytes, TCleanLog& log, std::wstring& error)
{
    log = {};
    // A report never has a document type; one would bring entities to expand, which Wine's
    // parser does not let us forbid. ('<' cannot occur unescaped inside the report's values.)
    if (bytes.find("<!DOCTYPE") != std::string::npos) {
        error = L"the report has a document type, which no report of the engine has";
        return false;
    }
    TComScope com;
    ComPtr<IXMLDOMDocument> document;
    if (FAILED(CoCreateInstance(kDomDocument30, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument,
                                reinterpret_cast<void**>(document.GetAddressOf())))) {
        error = L"the XML parser (MSXML 3) is not available";
        return false;
    }
    document->put_async(VARIANT_FALSE);
    document->put_validateOnParse(VARIANT_FALSE);
    document->put_resolveExternals(VARIANT_FALSE);
    // Parsed from the raw bytes so that the parser decodes them as the declaration says.
    ComPtr<IStream> stream;
    stream.Attach(
        SHCreateMemStream(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<UINT>(bytes.size())));
    if (!stream) {
        error = L"out of memory";
        return false;
    }
    VARIANT source;
    VariantInit(&source);
    source.vt = VT_UNKNOWN;
    source.punkVal = stream.Get();  // the stream keeps its own reference: source is not cleared
    VARIANT_BOOL loaded = VARIANT_FALSE;
    if (FAILED(document->load(source, &loaded)) || loaded != VARIANT_TRUE) {
        error = L"the report is not well-formed XML";
        ComPtr<IXMLDOMParseError> parseError;
        BSTR reason = nullptr;
        long line = 0;
        if (SUCCEEDED(document->get_parseError(&parseError)) && parseError &&
            SUCCEEDED(parseError->get_reason(&reason))) {
            parseError->get_line(&line);
            std::wstring text = TakeText(reason);
            while (!text.empty() && iswspace(text.back())) {
                text.pop_back();
            }
            error += L" (" + text + L", line " + std::to_wstring(line) + L")";
        }
        return false;
    }
    ComPtr<IXMLDOMElement> root;
    if (FAILED(document->get_documentElement(&root)) || !root) {
        error = L"the report has no root element";
        return false;
    }
    const auto cleanLogs = ChildElements(root.Get(), L"cleanLog");
    if (cleanLogs.empty()) {
        error = L"the report holds no clean";
        return false;
    }
    for (const auto& categories : ChildElements(cleanLogs.back().Get(), L"categories")) {
        for (const auto& category : ChildElements(categories.Get(), L"category")) {
            TReportedCategory reported;
            reported.name = Attribute(category.Get(), L"name").value_or(L"");
            for (const auto& problems : ChildElements(category.Get(), L"problems")) {
                for (const auto& problem : ChildElements(problems.Get(), L"problem")) {
                    reported.problems.push_back({Attribute(problem.Get(), L"key").value_or(L""),
                                                 Attribute(problem.Get(), L"value").value_or(L""),
                                                 Attribute(problem.Get(), L"status")});
                }
            }
            log.categories.push_back(std::move(reported));
        }
    }
    return true;
}

TCleanCounts CountsOf(ICleanTask* clean)
{
    return {clean->GetProblemsFixed(), clean->GetFailedToFix(), clean->GetProblemsSkipped(),
            clean->GetProblemsIgnored()};
}

std::vector<std::vector<TCleanOutcome>> MatchOutcomes(const TCleanPlan& plan, const TCleanLog& log,
                                                      const TOutcomeTexts& texts, const TCleanCounts& counts,
                                                      std::wstring& warning)
{
    warning.clear();
    std::vector<std::vector<TCleanOutcome>> outcomes;
    for (const TCategoryRecord& category : plan) {
        outcomes.emplace_back(category.problems.size(), TCleanOutcome::Unprocessed);
    }
    const auto notThisClean = [&](const std::wstring& why) {
        warning = L"the report does not record this clean: " + why;
        for (auto& category : outcomes) {
            category.assign(category.size(), TCleanOutcome::Unknown);
        }
        return outcomes;
    };
    if (log.categories.size() > plan.size()) {
        return notThisClean(L"it lists more categories than were cleaned");
    }
    size_t mismatched = 0;
    // Problems marked to fix whose text names both Fixed and Failed (a translation that
    // gives both the same words).
    std::vector<TCleanOutcome*> undecided;
    for (size_t c = 0; c < log.categories.size(); ++c) {
        const TReportedCategory& reported = log.categories[c];
        const TCategoryRecord& planned = plan[c];
        if (AsReported(reported.name) != AsReported(planned.name)) {
            return notThisClean(L"category " + std::to_wstring(c + 1) + L" is \"" + reported.name +
                                L"\" where \"" + planned.name + L"\" was cleaned");
        }
        if (reported.problems.size() > planned.problems.size()) {
            return notThisClean(L"it lists more problems in \"" + planned.name + L"\" than were cleaned");
        }
        for (size_t p = 0; p < reported.problems.size(); ++p) {
            const TReportedProblem& entry = reported.problems[p];
            const TProblemRecord& problem = planned.problems[p];
            TCleanOutcome& outcome = outcomes[c][p];
            if (AsReported(entry.key) != AsReported(problem.key) ||
                AsReported(entry.value) != AsReported(problem.value)) {
                ++mismatched;
                outcome = TCleanOutcome::Unknown;
                continue;
            }
            outcome = OutcomeOf(entry.status, problem.status, texts);
            if (outcome == TCleanOutcome::Unknown && problem.status == psFix && entry.status &&
                Names(*entry.status, texts.fixed) && Names(*entry.status, texts.failed)) {
                undecided.push_back(&outcome);
            }
        }
    }

    const auto tally = [&](TCleanOutcome which) {
        LONG count = 0;
        for (const auto& category : outcomes) {
            for (TCleanOutcome outcome : category) {
                count += outcome == which ? 1 : 0;
            }
        }
        return count;
    };
    if (!undecided.empty()) {
        const LONG open = static_cast<LONG>(undecided.size());
        TCleanOutcome settled = TCleanOutcome::Unknown;
        if (tally(TCleanOutcome::Failed) == counts.failed &&
            tally(TCleanOutcome::Fixed) + open == counts.fixed) {
            settled = TCleanOutcome::Fixed;
        } else if (tally(TCleanOutcome::Fixed) == counts.fixed &&
                   tally(TCleanOutcome::Failed) + open == counts.failed) {
            settled = TCleanOutcome::Failed;
        }
        for (TCleanOutcome* outcome : undecided) {
            *outcome = settled;
        }
    }

    const LONG fixed = tally(TCleanOutcome::Fixed);
    const LONG failed = tally(TCleanOutcome::Failed);
    const LONG skipped = tally(TCleanOutcome::Skipped);
    const LONG ignored = tally(TCleanOutcome::Ignored);
    const bool complete = tally(TCleanOutcome::Unknown) == 0;
    const bool agrees = complete ? fixed == counts.fixed && failed == counts.failed &&
                                       skipped == counts.skipped && ignored == counts.ignored
                                 : fixed <= counts.fixed && failed <= counts.failed &&
                                       skipped <= counts.skipped && ignored <= counts.ignored;
    if (!agrees) {
        return notThisClean(L"its outcomes (fixed " + std::to_wstring(fixed) + L", failed " +
                            std::to_wstring(failed) + L", skipped " + std::to_wstring(skipped) +
                            L", ignored " + std::to_wstring(ignored) + L") differ from the clean's totals");
    }
    if (mismatched > 0) {
        warning = std::to_wstring(mismatched) + (mismatched == 1 ? L" problem is" : L" problems are") +
                  L" recorded in the report under another key or value; their outcome is unknown";
    } else if (!complete) {
        warning = L"the report's status text of some problems names no single outcome";
    }
    return outcomes;
}

std::wstring ReportFileName()
{
    const ComPtr<ISysHelper> helper =
        SiblingService<ISysHelper>(L"Sysvane.dll", kHelperInstanceId, IID_ISysHelper);
    const ComPtr<IGlobals> globals =
        SiblingService<IGlobals>(L"Sysvane.dll", kGlobalsInstanceId, IID_IGlobals);
    BSTR folder = nullptr;
    BSTR product = nullptr;
    if (!helper || !globals || FAILED(helper->GetAppDataFolder(&folder)) ||
        FAILED(globals->GetProductName(&product))) {
        SysFreeString(folder);
        SysFreeString(product);
        return {};
    }
    std::wstring appData = TakeText(folder);
    const std::wstring productName = TakeText(product);
    if (appData.empty()) {
        return {};
    }
    if (appData.back() != L'\\') {
        appData += L'\\';
    }
    return appData + L"Quorvanta\\" + productName + L"\\User Reports\\tidyhive.xml";
}

std::string ReadReportBytes(const std::wstring& fileName)
{
    std::string bytes;
    if (fileName.empty()) {
        return bytes;
    }
    HANDLE file =
        CreateFileW(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return bytes;
    }
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        bytes.append(buffer, read);
    }
    CloseHandle(file);
    return bytes;
}

std::vector<std::vector<TCleanOutcome>> ReadCleanOutcomes(const std::wstring& reportFile,
                                                          const std::string& reportBefore,
                                                          const TCleanPlan& plan, const TCleanCounts& counts,
                                                          std::wstring& warning)
{
    const auto unknown = [&](const std::wstring& why) {
        warning = why;
        std::vector<std::vector<TCleanOutcome>> outcomes;
        for (const TCategoryRecord& category : plan) {
            outcomes.emplace_back(category.problems.size(), TCleanOutcome::Unknown);
        }
        return outcomes;
    };
    if (reportFile.empty()) {
        return unknown(L"the report's folder is unknown");
    }
    const std::string bytes = ReadReportBytes(reportFile);
    if (bytes.empty()) {
        return unknown(L"the report " + reportFile + L" cannot be read");
    }
    if (bytes == reportBefore) {
        return unknown(L"the clean did not write the report " + reportFile);
    }
    TCleanLog log;
    std::wstring error;
    if (!ParseCleanLog(bytes, log, error)) {
        return unknown(reportFile + L": " + error);
    }
    return MatchOutcomes(plan, log, EngineOutcomeTexts(), counts, warning);
}

std::vector<std::wstring> SessionIds(IBackvault* backup)
{
    std::vector<std::wstring> ids;
    const LONG count = backup ? backup->GetSessionCount() : 0;
    for (LONG i = 0; i < count; ++i) {
        BackvaultSessionInfo info{};
        if (SUCCEEDED(backup->GetSessionInfo(i, &info)) && info.id) {
            ids.emplace_back(info.id, SysStringLen(info.id));
        }
        ClearSessionInfo(info);
    }
    return ids;
}

std::wstring NewCleanSession(IBackvault* backup, const std::vector<std::wstring>& before)
{
    const LONG count = backup ? backup->GetSessionCount() : 0;
    for (LONG i = 0; i < count; ++i) {
        BackvaultSessionInfo info{};
        if (FAILED(backup->GetSessionInfo(i, &info)) || !info.id) {
            ClearSessionInfo(info);
            continue;
        }
        std::wstring id(info.id, SysStringLen(info.id));
        const bool ours =
            info.program && std::wstring(info.program, SysStringLen(info.program)) == kCleanProgram;
        ClearSessionInfo(info);
        if (ours && std::find(before.begin(), before.end(), id) == before.end()) {
            return id;
        }
    }
    return {};
}

}  // namespace tidyhive::host
