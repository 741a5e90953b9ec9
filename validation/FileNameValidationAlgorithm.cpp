#include "validation/FileNameValidationAlgorithm.h"

#include "engine/RegistryCleanerOptions.h"
#include "registry/PathFunctions.h"
#include "registry/Wow64.h"
#include "services/DebugLog.h"
#include "services/LocalizedTexts.h"
#include "services/PerlRegEx.h"
#include "services/Text.h"

#include <cwctype>
#include <exception>

namespace tidyhive {
namespace {

constexpr wchar_t kPathLikePattern[] = LR"re(([^\|\?:\*<>/\"]+[\\]?)*)re";
constexpr wchar_t kFullPathPattern[] = LR"re((?P<drive>[a-z]{1}:\\)([^\|\?:;\*<>/\"]+[\\]?)*)re";
// The separators at which a text is cut to find the name it starts with, in order.
constexpr wchar_t kSeparators[] = L" ,;\\'";

constexpr wchar_t kApplicationsKey[] = L"HKEY_CLASSES_ROOT\\Applications\\";
constexpr wchar_t kAppPathsKey[] =
    L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";

// One compiled expression per thread and pattern: checks run on the worker while the host's
// thread asks for descriptions.
TPerlRegEx& Expression(const wchar_t* pattern)
{
    thread_local TPerlRegEx pathLike(kEngineRegExOptions, kPathLikePattern);
    thread_local TPerlRegEx fullPath(kEngineRegExOptions, kFullPathPattern);
    return pattern == kPathLikePattern ? pathLike : fullPath;
}

bool IsLetter(wchar_t c)
{
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}

// Critical-error dialogs off for this thread (an empty CD or card reader must not ask the
// user anything), back as they were afterwards.
class TCriticalErrorsSuppressed {
public:
    TCriticalErrorsSuppressed()
    {
        changed_ = SetThreadErrorMode(SEM_FAILCRITICALERRORS, &previous_) != FALSE;
    }
    ~TCriticalErrorsSuppressed()
    {
        if (changed_) {
            SetThreadErrorMode(previous_, nullptr);
        }
    }
    TCriticalErrorsSuppressed(const TCriticalErrorsSuppressed&) = delete;
    TCriticalErrorsSuppressed& operator=(const TCriticalErrorsSuppressed&) = delete;

private:
    DWORD previous_ = 0;
    bool changed_ = false;
};

bool PathExists(const std::wstring& name, bool folder)
{
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    return ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) == folder;
}

// The text before the first occurrence of separator; all of it when there is none.
std::wstring TextBefore(const std::wstring& text, wchar_t separator)
{
    const size_t found = text.find(separator);
    return found == std::wstring::npos ? text : text.substr(0, found);
}

void TraceLine(const wchar_t* line)
{
    DebugLog::Log(line);
}

}  // namespace

// Extractors

std::wstring ExtractPathLikeText(const std::wstring& text)
{
    TPerlRegEx& expression = Expression(kPathLikePattern);
    expression.SetSubject(text);
    return expression.Match() ? Trim(expression.MatchedText()) : std::wstring();
}

std::wstring ExtractFullPath(const std::wstring& text, std::wstring* drive)
{
    TPerlRegEx& expression = Expression(kFullPathPattern);
    expression.SetSubject(text);
    if (!expression.Match()) {
        if (drive) {
            drive->clear();
        }
        return {};
    }
    if (drive) {
        *drive = expression.GroupText(expression.GroupNumber(L"drive"));
    }
    return Trim(expression.MatchedText());
}

std::wstring ExtractDisplayName(const std::wstring& text)
{
    std::wstring name = ExtractFullPath(text);
    if (name.empty()) {
        name = ExtractPathLikeText(text);
    }
    return name.empty() ? text : name;
}

std::wstring ExtractFileDrive(const std::wstring& name)
{
    if (name.size() >= 2 && name[1] == L':') {
        return name.substr(0, 2);
    }
    if (name.size() >= 2 && name[0] == L'\\' && name[1] == L'\\') {
        // "\\server\share": up to the backslash that ends the share's name.
        const size_t serverEnd = name.find(L'\\', 2);
        if (serverEnd == std::wstring::npos) {
            return name;
        }
        const size_t shareEnd = name.find(L'\\', serverEnd + 1);
        return shareEnd == std::wstring::npos ? name : name.substr(0, shareEnd);
    }
    return {};
}

// TFileNameValidationAlgorithm

TFileNameValidationAlgorithm::TFileNameValidationAlgorithm()
    : TFileNameValidationAlgorithm(TRegistryCleanerOptions::Instance())
{
}

TFileNameValidationAlgorithm::TFileNameValidationAlgorithm(TRegistryCleanerOptions& options,
                                                           std::unique_ptr<TAlgorithmRegistry> registry)
    : TValidationAlgorithm(std::move(registry)), options_(options)
{
    options_.AddListener(this);
    ReadDriveOptions();
}

TFileNameValidationAlgorithm::~TFileNameValidationAlgorithm()
{
    // First thing: a notification running on another thread must not reach a half-freed
    // object (RemoveListener waits for it).
    options_.RemoveListener(this);
}

void TFileNameValidationAlgorithm::ReadDriveOptions()
{
    scanCDDriveReferences_ = options_.BooleanOption(kOptionScanCDDriveReferences);
    scanRemovableMediaReferences_ = options_.BooleanOption(kOptionScanRemovableMediaReferences);
}

void STDMETHODCALLTYPE TFileNameValidationAlgorithm::OptionsChanged(LPCWSTR)
{
    try {
        ReadDriveOptions();
    } catch (const std::exception& error) {
        DebugLog::Failure(ClassNameForLog(ClassName()), L"OptionsChanged", Utf8ToWide(error.what()));
    } catch (...) {
        DebugLog::Failure(ClassNameForLog(ClassName()), L"OptionsChanged", L"unknown error");
    }
}

HRESULT STDMETHODCALLTYPE TFileNameValidationAlgorithm::QueryInterface(REFIID iid, void** object)
{
    if (object && IsEqualIID(iid, IID_IFileNameValidator)) {
        *object = static_cast<IFileNameValidator*>(this);
        return S_OK;
    }
    return TValidationAlgorithm::QueryInterface(iid, object);
}

void TFileNameValidationAlgorithm::SetDriveTypeQuery(TDriveTypeQuery query)
{
    driveTypeQuery_ = std::move(query);
}

void TFileNameValidationAlgorithm::TraceClass() const
{
    if (DebugLog::Enabled()) {
        DebugLog::Log(L"Class is: ", ClassName());
    }
}

bool TFileNameValidationAlgorithm::IsDriveScanned(const std::wstring& ARoot)
{
    std::wstring root = ARoot;
    // "X:" without its backslash names the current folder of that drive, not its root.
    if (root.size() == 2 && root[1] == L':') {
        root += L'\\';
    }
    const UINT type = driveTypeQuery_ ? driveTypeQuery_(root) : GetDriveTypeW(root.c_str());
    switch (type) {
    case DRIVE_FIXED:
        return true;
    case DRIVE_REMOVABLE:
        return scanRemovableMediaReferences_;
    case DRIVE_CDROM:
        return scanCDDriveReferences_;
    default:  // remote, RAM disk, unknown, no such root
        return false;
    }
}

bool TFileNameValidationAlgorithm::Exists(const std::wstring& AName, bool folder)
{
    try {
        const std::wstring drive = ExtractFileDrive(AName);
        if (!drive.empty() && !IsDriveScanned(drive + L"\\")) {
            return true;
        }
        const TCriticalErrorsSuppressed quiet;
        return PathExists(AName, folder);
    } catch (const std::exception& error) {
        DebugLog::Failure(ClassNameForLog(ClassName()), folder ? L"ExistsFolder" : L"ExistsFile",
                          Utf8ToWide(error.what()));
        throw;
    }
}

bool TFileNameValidationAlgorithm::ExistsFile(const std::wstring& AName)
{
    return Exists(AName, false);
}

bool TFileNameValidationAlgorithm::ExistsFolder(const std::wstring& AName)
{
    return Exists(AName, true);
}

bool TFileNameValidationAlgorithm::ObjectExists(const std::wstring& AName)
{
    return ExistsFile(AName);
}

TEnvironmentOverrides TFileNameValidationAlgorithm::ProgramFolderOverrides() const
{
    TEnvironmentOverrides overrides;
    const auto take = [&](const wchar_t* target, const wchar_t* source) {
        const std::wstring value = EnvironmentValue(source);
        if (!value.empty()) {
            overrides.emplace_back(target, value);
        }
    };
    if (GetDisableFsRedirection()) {
        take(L"ProgramFiles", L"ProgramW6432");
        take(L"CommonProgramFiles", L"CommonProgramW6432");
    } else if (sizeof(void*) == 8) {
        // A 64-bit process sees the 64-bit folders by default; the 32-bit view of the files
        // is that of the 32-bit programs whose entries it judges.
        take(L"ProgramFiles", L"ProgramFiles(x86)");
        take(L"CommonProgramFiles", L"CommonProgramFiles(x86)");
    }
    return overrides;
}

bool TFileNameValidationAlgorithm::ReplaceKnownEnviromentVariables(std::wstring& AFileName)
{
    TraceLine(L"@@ TFileNameValidationAlgorithm.ReplaceKnownEnviromentVariables.Start @@");
    TraceClass();
    DebugLog::Log(L"AFileName: ", AFileName);
    std::wstring expanded;
    const bool result = ExpandEnvironmentText(AFileName, expanded, ProgramFolderOverrides());
    if (result) {
        AFileName = std::move(expanded);
    }
    TraceLine(L"@@ TFileNameValidationAlgorithm.ReplaceKnownEnviromentVariables @@");
    return result;
}

bool TFileNameValidationAlgorithm::TryPrefixes(const std::wstring& AName, wchar_t separator)
{
    size_t found = AName.find(separator);
    if (found == std::wstring::npos) {
        return false;
    }
    while (found != std::wstring::npos) {
        if (ObjectExists(AName.substr(0, found))) {
            return true;
        }
        found = AName.find(separator, found + 1);
    }
    return ObjectExists(AName);
}

bool TFileNameValidationAlgorithm::ValidateFileName(const std::wstring& AData)
{
    TraceLine(L"@@ TFileNameValidationAlgorithm.ValidateFileName.Start @@");
    TraceClass();
    DebugLog::Log(L"AData: ", AData);
    std::wstring data = AData;
    if (!ReplaceKnownEnviromentVariables(data)) {
        return false;
    }
    std::wstring drive;
    const std::wstring path = ExtractFullPath(data, &drive);
    if (path.empty()) {
        return false;
    }
    if (!IsDriveScanned(drive)) {
        return true;
    }
    bool result = ObjectExists(path);
    for (const wchar_t* separator = kSeparators; !result && *separator; ++separator) {
        result = TryPrefixes(path, *separator);
    }
    TraceLine(L"@@ TFileNameValidationAlgorithm.ValidateFileName @@");
    return result;
}

bool TFileNameValidationAlgorithm::FindFileByName(const std::wstring& AName)
{
    std::wstring windows = EnvironmentValue(L"windir");
    if (!windows.empty() && windows.back() != L'\\') {
        windows += L'\\';
    }
    for (const wchar_t* separator = kSeparators; *separator; ++separator) {
        const std::wstring name = TextBefore(AName, *separator);
        // An empty name names nothing (it would only find the Applications key itself).
        if (Trim(name).empty()) {
            continue;
        }
        if (FRegistry->KeyExistsInEitherView(kApplicationsKey + name) ||
            FRegistry->KeyExistsInEitherView(kAppPathsKey + name)) {
            return true;
        }
        if (!windows.empty() &&
            (ObjectExists(windows + name) || ObjectExists(windows + L"System32\\" + name) ||
             ObjectExists(windows + L"System\\" + name) || ObjectExists(windows + name + L".exe") ||
             ObjectExists(windows + L"System32\\" + name + L".exe"))) {
            return true;
        }
    }
    return false;
}

bool TFileNameValidationAlgorithm::ValidateKeyData(const std::wstring& AData)
{
    TraceLine(L"@@ TFileNameValidationAlgorithm.ValidateKeyData.Start @@");
    TraceClass();
    DebugLog::Log(L"AData: ", AData);
    // Empty data refers to nothing, so there is nothing missing.
    if (Trim(AData).empty()) {
        return true;
    }
    if (AData.size() > 2 && IsLetter(AData[0]) && AData[1] == L':' && AData[2] == L'\\') {
        if (!IsDriveScanned(AData.substr(0, 3)) || ObjectExists(AData)) {
            return true;
        }
    }
    // A UNC reference names a network share, which is never scanned; the full-path search
    // below would not see it and judge it missing without looking.
    const std::wstring unquoted = Trim(AData).substr(Trim(AData).front() == L'"' ? 1 : 0);
    if (StartsWithText(unquoted, L"\\\\") && !IsDriveScanned(ExtractFileDrive(unquoted) + L"\\")) {
        return true;
    }
    if (LowerCase(AData).find(L"rundll32") != std::wstring::npos) {
        return true;
    }
    if (AData.find(L"%1") != std::wstring::npos) {
        return true;
    }
    const std::wstring pathLike = ExtractPathLikeText(AData);
    bool result = ValidateFileName(AData);
    if (!result && searchByName_) {
        result = FindFileByName(AData) || FindFileByName(pathLike);
    }
    TraceLine(L"@@ TFileNameValidationAlgorithm.ValidateKeyData @@");
    return result;
}

bool TFileNameValidationAlgorithm::ExistsOrRegistered(const std::wstring& AName)
{
    if (ExistsFile(AName)) {
        return true;
    }
    {
        const TCriticalErrorsSuppressed quiet;
        if (!SearchExecutableInPath(AName).empty()) {
            return true;
        }
    }
    if (AName.empty() || AName.find_first_of(L"\\/:") != std::wstring::npos) {
        return false;
    }
    return FRegistry->KeyExistsInEitherView(kApplicationsKey + AName) ||
           FRegistry->KeyExistsInEitherView(kAppPathsKey + AName);
}

bool TFileNameValidationAlgorithm::ValidateCommand(const std::wstring& AData)
{
    TraceLine(L"@@ TCommandValidationAlgorithm.ValidateCommand.Start @@");
    TraceClass();
    DebugLog::Log(L"AData: ", AData);
    std::wstring data = AData;
    // A document verb's placeholder, quoted or not, and what follows it are arguments.
    for (size_t found; (found = data.find(L"\"%1\"")) != std::wstring::npos;) {
        data = Trim(data.substr(0, found));
    }
    for (size_t found; (found = data.find(L"%1")) != std::wstring::npos;) {
        data = Trim(data.substr(0, found));
    }
    bool result = false;
    if (ExistsOrRegistered(data)) {
        result = true;
    } else if (data.find(L'%') != std::wstring::npos && ReplaceKnownEnviromentVariables(data) &&
               ExistsOrRegistered(data)) {
        result = true;
    } else if (data.empty()) {
        result = true;
    } else if (data.front() != L'"') {
        size_t position = data.find_first_of(L" ,");
        if (position == std::wstring::npos) {
            result = ExistsOrRegistered(data);
        }
        while (!result && position != std::wstring::npos) {
            result = ExistsOrRegistered(Trim(data.substr(0, position)));
            position = data.find_first_of(L" ,", position + 1);
        }
    } else {
        const size_t close = data.find(L'"', 1);
        result = close != std::wstring::npos && ExistsOrRegistered(data.substr(1, close - 1));
    }
    TraceLine(L"@@ TCommandValidationAlgorithm.ValidateCommand @@");
    return result;
}

bool TFileNameValidationAlgorithm::WithRedirectionHandled(const std::function<bool()>& check)
{
    if (!GetDisableFsRedirection()) {
        return check();
    }
    const TFsRedirectionSuspension suspension;
    return check();
}

bool TFileNameValidationAlgorithm::IsValid(const std::wstring& AKey, const std::wstring& AValue,
                                           const std::wstring& AData)
{
    TraceLine(L"@@ TFileNameValidationAlgorithm.IsValid.Start @@");
    TraceClass();
    TraceArguments(AKey, AValue, AData);
    const bool result = WithRedirectionHandled([&] { return ValidateKeyData(AData); });
    TraceLine(L"@@ TFileNameValidationAlgorithm.IsValid @@");
    return result;
}

std::wstring TFileNameValidationAlgorithm::CurrentData(const std::wstring& AKey, const std::wstring& AValue,
                                                       const std::wstring& AData)
{
    bool success = false;
    std::wstring data = FRegistry->ReadStringSafe(AKey, AValue, success);
    return success ? data : AData;
}

bool TFileNameValidationAlgorithm::FIX(const std::wstring& AKey, const std::wstring& AValue,
                                       const std::wstring& AData)
{
    TraceLine(L"TFileNameValidationAlgorithm.FIX.Start");
    TraceClass();
    TraceArguments(AKey, AValue, AData);
    bool result = true;
    if (FRegistry->ValueExists(AKey, AValue) && !IsValid(AKey, AValue, CurrentData(AKey, AValue, AData)) &&
        FRegistry->KeyExists(AKey)) {
        if (AValue.empty()) {
            FRegistry->WriteString(AKey, AValue, L"");
        } else {
            result = FRegistry->DeleteValue(AKey, AValue);
        }
    }
    TraceLine(L"TFileNameValidationAlgorithm.FIX");
    return result;
}

std::wstring TFileNameValidationAlgorithm::ProblemData(IDetectedProblemKey* problem)
{
    if (!problem) {
        return {};
    }
    const TBstr data(problem->GetData());
    return data.Str();
}

std::wstring TFileNameValidationAlgorithm::ProblemValueName(IDetectedProblemKey* problem)
{
    if (!problem) {
        return {};
    }
    const TBstr name(problem->GetValueName());
    return name.Str();
}

std::wstring TFileNameValidationAlgorithm::GetDescriptionText()
{
    return LoadText(TextKey::VA_FILENAME_DESCRIPTION);
}

std::wstring TFileNameValidationAlgorithm::GetShortDescriptionText(IDetectedProblemKey* problem)
{
    return FormatDescription(LoadText(TextKey::VA_FILENAME_DESCRIPTION_SHORT),
                             {ExtractDisplayName(ProblemData(problem))});
}

std::wstring TFileNameValidationAlgorithm::GetCompleteDescriptionText(IDetectedProblemKey* problem)
{
    return FormatDescription(LoadText(TextKey::VA_FILENAME_DESCRIPTION_COMPLETE),
                             {ProblemKeyPath(problem), ExtractDisplayName(ProblemData(problem))});
}

// TFolderNameValidationAlgorithm

TFolderNameValidationAlgorithm::TFolderNameValidationAlgorithm()
{
    searchByName_ = false;
}

TFolderNameValidationAlgorithm::TFolderNameValidationAlgorithm(TRegistryCleanerOptions& options,
                                                               std::unique_ptr<TAlgorithmRegistry> registry)
    : TFileNameValidationAlgorithm(options, std::move(registry))
{
    searchByName_ = false;
}

bool TFolderNameValidationAlgorithm::ObjectExists(const std::wstring& AName)
{
    return ExistsFolder(AName);
}

bool TFolderNameValidationAlgorithm::ValidateFolder(const std::wstring& AData)
{
    TraceLine(L"@@ TFolderNameValidationAlgorithm.ValidateFolder.Start @@");
    TraceClass();
    DebugLog::Log(L"AData: ", AData);
    if (AData.size() > 1 && IsLetter(AData[0]) && AData[1] == L':') {
        if (!IsDriveScanned(AData.substr(0, 2)) || ExistsFolder(AData)) {
            return true;
        }
    }
    bool result = true;
    std::wstring data = AData;
    if (ReplaceKnownEnviromentVariables(data)) {
        std::wstring drive;
        const std::wstring path = ExtractFullPath(data, &drive);
        if (!path.empty()) {
            result = !IsDriveScanned(drive) || ExistsFolder(path);
        }
        TraceLine(L"@@ TFolderNameValidationAlgorithm.ValidateFolder @@");
    }
    return result;
}

bool TFolderNameValidationAlgorithm::IsValid(const std::wstring& AKey, const std::wstring& AValue,
                                             const std::wstring& AData)
{
    TraceLine(L"@@ TFolderNameValidationAlgorithm.IsValid.Start @@");
    TraceClass();
    TraceArguments(AKey, AValue, AData);
    const bool result = WithRedirectionHandled([&] { return ValidateFolder(AData); });
    TraceLine(L"@@ TFolderNameValidationAlgorithm.IsValid @@");
    return result;
}

std::wstring TFolderNameValidationAlgorithm::GetDescriptionText()
{
    return LoadText(TextKey::VA_FOLDER_DESCRIPTION);
}

std::wstring TFolderNameValidationAlgorithm::GetShortDescriptionText(IDetectedProblemKey* problem)
{
    return FormatDescription(LoadText(TextKey::VA_FOLDER_DESCRIPTION_SHORT),
                             {ExtractFullPath(ProblemData(problem))});
}

std::wstring TFolderNameValidationAlgorithm::GetCompleteDescriptionText(IDetectedProblemKey* problem)
{
    return FormatDescription(LoadText(TextKey::VA_FOLDER_DESCRIPTION_COMPLETE),
                             {ProblemKeyPath(problem), ExtractFullPath(ProblemData(problem))});
}

// TCommandValidationAlgorithm

bool TCommandValidationAlgorithm::IsValid(const std::wstring& AKey, const std::wstring& AValue,
                                          const std::wstring& AData)
{
    TraceLine(L"@@ TCommandValidationAlgorithm.IsValid.Start @@");
    TraceClass();
    TraceArguments(AKey, AValue, AData);
    const bool result = WithRedirectionHandled([&] { return ValidateCommand(AData); });
    TraceLine(L"@@ TCommandValidationAlgorithm.IsValid @@");
    return result;
}

// TFileOrFolderNameValidationAlgorithm

bool TFileOrFolderNameValidationAlgorithm::ValidateFullFileName(const std::wstring& AData)
{
    TraceLine(L"@@ TFileOrFolderNameValidationAlgorithm.ValidateFullFileName.Start @@");
    TraceClass();
    DebugLog::Log(L"AData: ", AData);
    std::wstring data = AData;
    if (!ReplaceKnownEnviromentVariables(data)) {
        return true;
    }
    TPerlRegEx expression(kEngineRegExOptions, kFullPathPattern);
    expression.SetSubject(data);
    if (!expression.Match()) {
        return true;
    }
    const std::wstring path = Trim(expression.MatchedText());
    const std::wstring drive = expression.GroupText(expression.GroupNumber(L"drive"));
    bool result = false;
    if (expression.MatchNext()) {
        result = true;  // a text naming several paths is not judged
    } else if (!IsDriveScanned(drive)) {
        result = true;
    } else {
        for (const wchar_t* separator = kSeparators; !result && *separator; ++separator) {
            result = TryPrefixes(path, *separator);
        }
        result = result || ExistsFolder(path) || (checkAsCommand_ && ValidateCommand(path));
    }
    TraceLine(L"@@ TFileOrFolderNameValidationAlgorithm.ValidateFullFileName @@");
    return result;
}

bool TFileOrFolderNameValidationAlgorithm::IsValid(const std::wstring& AKey, const std::wstring& AValue,
                                                   const std::wstring& AData)
{
    TraceLine(L"@@ TFileOrFolderNameValidationAlgorithm.IsValid.Start @@");
    TraceClass();
    TraceArguments(AKey, AValue, AData);
    const bool result =
        WithRedirectionHandled([&] { return Trim(AData).empty() || ValidateFullFileName(AData); });
    TraceLine(L"@@ TFileOrFolderNameValidationAlgorithm.IsValid @@");
    return result;
}

std::wstring TFileOrFolderNameValidationAlgorithm::GetDescriptionText()
{
    return LoadText(TextKey::VA_FILEFOLDER_DESCRIPTION);
}

std::wstring TFileOrFolderNameValidationAlgorithm::GetShortDescriptionText(IDetectedProblemKey* problem)
{
    return FormatDescription(LoadText(TextKey::VA_FILEFOLDER_DESCRIPTION_SHORT),
                             {ExtractFullPath(ProblemData(problem))});
}

std::wstring TFileOrFolderNameValidationAlgorithm::GetCompleteDescriptionText(IDetectedProblemKey* problem)
{
    return FormatDescription(LoadText(TextKey::VA_FILEFOLDER_DESCRIPTION_COMPLETE),
                             {ProblemKeyPath(problem), ExtractFullPath(ProblemData(problem))});
}

// TShellCommandValidationAlgorithm

bool TShellCommandValidationAlgorithm::FIX(const std::wstring& AKey, const std::wstring& AValue,
                                           const std::wstring& AData)
{
    TraceLine(L"@@ TShellCommandValidationAlgorithm.FIX.Start @@");
    TraceClass();
    TraceArguments(AKey, AValue, AData);
    const unsigned long changesBefore = FRegistry->ChangeCount();
    const bool result = TFileNameValidationAlgorithm::FIX(AKey, AValue, AData);
    // The verb goes only when the fix cleared its command: a command valid again keeps it.
    const bool changed = FRegistry->ChangeCount() != changesBefore;
    const size_t slash = AKey.rfind(L'\\');
    if (result && changed && slash != std::wstring::npos && UpperCase(AKey.substr(slash + 1)) == L"COMMAND") {
        const std::wstring verb = AKey.substr(0, slash);
        DeleteAnyKey(verb);
        const size_t verbSlash = verb.rfind(L'\\');
        if (verbSlash != std::wstring::npos) {
            const std::wstring shell = verb.substr(0, verbSlash);
            const size_t shellSlash = shell.rfind(L'\\');
            if (shellSlash != std::wstring::npos && UpperCase(shell.substr(shellSlash + 1)) == L"SHELL" &&
                IsKeyEmptyExceptDefault(shell)) {
                DeleteAnyKey(shell);
            }
        }
    }
    TraceLine(L"@@ TShellCommandValidationAlgorithm.FIX @@");
    return result;
}

}  // namespace tidyhive
