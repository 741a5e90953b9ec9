#include "categories/FileExtsCategoryScanner.h"

#include "registry/RegistryPaths.h"
#include "registry/Wow64.h"
#include "services/DebugLog.h"
#include "services/LocalizedTexts.h"
#include "services/Text.h"

namespace tidyhive {
namespace {

const wchar_t kFileExtsRoot[] =
    L"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts";

std::wstring LastKeyUpper(const std::wstring& path)
{
    return UpperCase(ExtractLastKey(path));
}

// The extension named in a path below "...\FileExts\".
std::wstring ExtensionOf(const std::wstring& key)
{
    const std::wstring marker = L"\\fileexts\\";
    const size_t at = LowerCase(key).find(marker);
    if (at == std::wstring::npos) {
        return {};
    }
    const size_t start = at + marker.size();
    const size_t end = key.find(L'\\', start);
    return key.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
}

// Only the first "%s" is filled, so a translation's other "%" characters stay as they are.
std::wstring FillPattern(const std::wstring& pattern, const std::wstring& text)
{
    const size_t at = pattern.find(L"%s");
    if (at == std::wstring::npos) {
        return pattern;
    }
    return pattern.substr(0, at) + text + pattern.substr(at + 2);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// TFileExtentionValidationAlgorithm

// A class or an application registered in either view serves the reference; an answer
// that cannot be had counts as "there" (never a false finding).
bool TFileExtentionValidationAlgorithm::KeyExistsOrUnknown(const std::wstring& path)
{
    try {
        return Registry().KeyExistsInEitherView(path);
    } catch (const std::exception& error) {
        DebugLog::LogError(ExceptionMessage(error));
        return true;
    }
}

bool TFileExtentionValidationAlgorithm::ApplicationRegistered(const std::wstring& application)
{
    // An empty name would only find the Applications key itself.
    if (Trim(application).empty()) {
        return true;
    }
    return KeyExistsOrUnknown(L"HKEY_CLASSES_ROOT\\Applications\\" + application) ||
           KeyExistsOrUnknown(
               L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\" +
               application);
}

bool TFileExtentionValidationAlgorithm::IsValid(const std::wstring& AKey, const std::wstring& AValue,
                                                const std::wstring& AData)
{
    DebugLog::Log(L"TFileExtentionValidationAlgorithm.IsValid.Start");
    TraceArguments(AKey, AValue, AData);
    const std::wstring name = UpperCase(AValue);
    if (name == L"MRULIST") {
        return true;
    }
    const std::wstring key = LastKeyUpper(AKey);
    bool valid = true;
    if (key == L"OPENWITHLIST") {
        valid = ApplicationRegistered(AData);
    } else if (key == L"OPENWITHPROGIDS") {
        valid = Trim(name).empty() || KeyExistsOrUnknown(L"HKEY_CLASSES_ROOT\\" + name);
    } else if (name == L"PROGID") {
        // An empty ProgID would only find the root itself.
        valid = Trim(AData).empty() || KeyExistsOrUnknown(L"HKEY_CLASSES_ROOT\\" + AData);
    } else if (name == L"APPLICATION") {
        valid = ApplicationRegistered(AData);
    }
    DebugLog::Log(L"TFileExtentionValidationAlgorithm.IsValid");
    return valid;
}

bool TFileExtentionValidationAlgorithm::FIX(const std::wstring& AKey, const std::wstring& AValue,
                                            const std::wstring& AData)
{
    DebugLog::Log(L"TFileExtentionValidationAlgorithm.FIX.Start");
    TraceArguments(AKey, AValue, AData);
    if (!Registry().ValueExists(AKey, AValue)) {
        return true;
    }
    // Judge what the value holds now: one rewritten to a valid reference since the scan stays.
    bool read = false;
    const std::wstring current = Registry().ReadStringSafe(AKey, AValue, read);
    if (!read) {
        return false;
    }
    if (IsValid(AKey, AValue, current)) {
        return true;
    }
    const std::wstring key = LastKeyUpper(AKey);
    if (key == L"OPENWITHLIST") {
        const bool deleted = Registry().DeleteValue(AKey, AValue);
        // The order list names the entries by their one-letter value names; a longer name
        // is not in it, and cutting it out as text would drop other entries.
        if (deleted && AValue.size() == 1 && Registry().ValueExists(AKey, L"MRUList")) {
            bool success = false;
            std::wstring order = Registry().ReadStringSafe(AKey, L"MRUList", success);
            const size_t at = success ? order.find(AValue) : std::wstring::npos;
            if (at != std::wstring::npos) {
                order.erase(at, AValue.size());
                if (order.empty()) {
                    Registry().DeleteValue(AKey, L"MRUList");
                } else {
                    Registry().WriteString(AKey, L"MRUList", order);
                }
            }
        }
        DebugLog::Log(L"TFileExtentionValidationAlgorithm.FIX");
        return deleted;
    }
    if (key == L"OPENWITHPROGIDS") {
        const bool deleted = Registry().DeleteValue(AKey, AValue);
        DebugLog::Log(L"TFileExtentionValidationAlgorithm.FIX");
        return deleted;
    }
    const std::wstring name = UpperCase(AValue);
    if (name == L"APPLICATION" || name == L"PROGID") {
        return Registry().DeleteValue(AKey, AValue);
    }
    return false;
}

std::wstring TFileExtentionValidationAlgorithm::GetDescriptionText()
{
    return LoadText(TextKey::VA_FILEEXT_DESCRIPTION);
}

std::wstring TFileExtentionValidationAlgorithm::GetShortDescriptionText(IDetectedProblemKey* problem)
{
    if (!problem) {
        return GetDescriptionText();
    }
    const std::wstring key = LastKeyUpper(ProblemKeyPath(problem));
    const std::wstring name = UpperCase(TBstr(problem->GetValueName()).Str());
    const std::wstring data = TBstr(problem->GetData()).Str();
    if (key == L"OPENWITHLIST" || name == L"APPLICATION") {
        return LoadText(TextKey::VA_FILEEXT_DESCRIPTION_SHORT_APP) + data;
    }
    if (key == L"OPENWITHPROGIDS" || name == L"PROGID") {
        return LoadText(TextKey::VA_FILEEXT_DESCRIPTION_SHORT_PROGID) + data;
    }
    return GetDescriptionText();
}

std::wstring TFileExtentionValidationAlgorithm::GetCompleteDescriptionText(IDetectedProblemKey* problem)
{
    std::wstring text = GetShortDescriptionText(problem);
    if (!text.empty()) {
        text[0] = LowerCase(text.substr(0, 1))[0];
    }
    return FormatDescription(LoadText(TextKey::VA_FILEEXT_DESCRIPTION_COMPLETE),
                             {ProblemKeyPath(problem), text});
}

// ---------------------------------------------------------------------------------------
// TFileExtsCategoryScanner

TFileExtsCategoryScanner::TFileExtsCategoryScanner(const TCategoryDescriptor& descriptor)
    : TBaseCategoryScanner(descriptor), algorithm_(std::make_unique<TFileExtentionValidationAlgorithm>())
{
    algorithm_->SetAutoDeleteEmptyKey(true);
    ScanSubKeys = true;
}

TFileExtsCategoryScanner::~TFileExtsCategoryScanner() = default;

void TFileExtsCategoryScanner::SelectRoot(int Index)
{
    TBaseCategoryScanner::SelectRoot(Index);
    algorithm_->SetUse64BitView(IsRoot64Bit(Index));
}

std::wstring TFileExtsCategoryScanner::GetRootKey(int /*Index*/)
{
    return kFileExtsRoot;
}

TValidationAlgorithm* TFileExtsCategoryScanner::ValidateValue(const std::wstring& AKey,
                                                              const std::wstring& AValue,
                                                              const std::wstring& AData)
{
    return algorithm_->IsValid(AKey, AValue, AData) ? nullptr : algorithm_.get();
}

std::wstring TFileExtsCategoryScanner::GetValueDescription(const std::wstring& AKey,
                                                           const std::wstring& /*AValue*/,
                                                           const std::wstring& /*AData*/)
{
    return FillPattern(LoadText(TextKey::CS_FILEEXT_VALUEDESC_EXTENTION), ExtensionOf(AKey));
}

bool TFileExtsCategoryScanner::SkipEmptyKeyCheck(const std::wstring& /*AKey*/)
{
    return false;
}

std::wstring TFileExtsCategoryScanner::GetKeyPattern(int /*Index*/)
{
    return L"<![^\\..+]>";
}

bool TFileExtsCategoryScanner::IsRoot64Bit(int Index)
{
    return Index == 1;
}

int TFileExtsCategoryScanner::GetRootCount()
{
    return IsWow64() ? 2 : 1;
}

}  // namespace tidyhive
