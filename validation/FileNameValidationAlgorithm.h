// The file and folder reference checks: does a registry entry's text still point at a file,
// a folder or a program that exists? Most category algorithms build on these classes.
//
// The texts come in many shapes (environment variables, quotes, arguments, "%1"
// placeholders, bare program names found through the search path or registrations), and
// references on drives that are not scanned (network, RAM disk, and CD or removable drives
// unless the options ask for them) are never judged.
#pragma once

#include "validation/EnvironmentExpansion.h"
#include "validation/ValidationAlgorithm.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>

namespace tidyhive {

class TRegistryCleanerOptions;

// The drive-type answer for a root such as "C:\" or "\\server\share\" (GetDriveTypeW).
using TDriveTypeQuery = std::function<UINT(const std::wstring& root)>;

// Text extractors shared by the checks and their descriptions (first match, trimmed, or
// empty when nothing matches).
// Path characters up to the first one that cannot be part of a path.
std::wstring ExtractPathLikeText(const std::wstring& text);
// A drive letter, colon and backslash, then path characters; drive receives "X:\".
std::wstring ExtractFullPath(const std::wstring& text, std::wstring* drive = nullptr);
// The name a description shows: the full path, else the path-like text, else the text.
std::wstring ExtractDisplayName(const std::wstring& text);
// The drive of a file name: "X:" or a UNC prefix "\\server\share"; empty for a relative
// or rooted name without one.
std::wstring ExtractFileDrive(const std::wstring& name);

// Accepts a text that contains an existing file.
class TFileNameValidationAlgorithm : public TValidationAlgorithm, public IFileNameValidator {
public:
    // Over the process-wide options and the engine's registry access.
    TFileNameValidationAlgorithm();
    // Over the given options (which must outlive the algorithm) and registry access.
    explicit TFileNameValidationAlgorithm(
        TRegistryCleanerOptions& options,
        std::unique_ptr<TAlgorithmRegistry> registry = CreateAlgorithmRegistry());
    ~TFileNameValidationAlgorithm() override;

    bool IsValid(const std::wstring& AKey, const std::wstring& AValue, const std::wstring& AData) override;
    std::wstring GetDescriptionText() override;
    std::wstring GetShortDescriptionText(IDetectedProblemKey* problem) override;
    std::wstring GetCompleteDescriptionText(IDetectedProblemKey* problem) override;
    // Removes the value (a default value is emptied instead) when it is still there and its
    // current data is still invalid; a value that is gone or has become valid counts as
    // fixed without a change. Registry errors reach the caller.
    bool FIX(const std::wstring& AKey, const std::wstring& AValue, const std::wstring& AData) override;

    // Expands environment variables in place; the 64-bit program folders stand in for
    // %ProgramFiles% and %CommonProgramFiles% when the check looks at the 64-bit file
    // system, the 32-bit ones when it does not. The process environment is never changed.
    // False only when expansion failed (the name is then unchanged).
    virtual bool ReplaceKnownEnviromentVariables(std::wstring& AFileName);
    // ExistsFile here; ExistsFolder for the folder check.
    virtual bool ObjectExists(const std::wstring& AName);
    // A bare name known as a registered application, under App Paths, or in the Windows
    // folders, trying the text before each separator (blank, comma, semicolon, backslash,
    // apostrophe).
    virtual bool FindFileByName(const std::wstring& AName);

    // The checks derived algorithms call.
    // The decision procedure of this class.
    bool ValidateKeyData(const std::wstring& AData);
    // A full path in the data that exists, or exists up to a separator.
    bool ValidateFileName(const std::wstring& AData);
    // A command line whose program exists, is on the search path, or is registered.
    bool ValidateCommand(const std::wstring& AData);
    // True when the name's drive is not scanned; otherwise whether the file (resp. folder)
    // exists, without a system dialog for an empty drive.
    bool ExistsFile(const std::wstring& AName);
    bool ExistsFolder(const std::wstring& AName);
    // A fixed drive always; removable and CD drives per the options; nothing else.
    bool IsDriveScanned(const std::wstring& ARoot);
    // An existing file, a program found along PATH, or a bare name registered under
    // HKCR\Applications or App Paths.
    bool ExistsOrRegistered(const std::wstring& AName);
    // Whether ObjectExists holds for the text before an occurrence of separator, or, after
    // the last one, for the whole name. False when the separator does not occur.
    bool TryPrefixes(const std::wstring& AName, wchar_t separator);

    bool GetSearchByName() const { return searchByName_; }
    bool GetScanCDDriveReferences() const { return scanCDDriveReferences_; }
    bool GetScanRemovableMediaReferences() const { return scanRemovableMediaReferences_; }
    // Replaces GetDriveTypeW (tests, or a host with its own view of the drives).
    void SetDriveTypeQuery(TDriveTypeQuery query);

    // IFileNameValidator: re-reads both drive options, whatever option changed.
    void STDMETHODCALLTYPE OptionsChanged(LPCWSTR name) override;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

protected:
    // The name the trace lines give for the running class.
    virtual const wchar_t* ClassName() const { return L"TFileNameValidationAlgorithm"; }
    // The data a fix judges: the value's current text, so that a value rewritten since the
    // scan is judged as it is now.
    virtual std::wstring CurrentData(const std::wstring& AKey, const std::wstring& AValue,
                                     const std::wstring& AData);
    // Runs check with file-system redirection off when DisableFsRedirection is set.
    bool WithRedirectionHandled(const std::function<bool()>& check);
    // The variables that stand in for the process's own in this check's file-system view.
    TEnvironmentOverrides ProgramFolderOverrides() const;
    // The problem's data (empty without a problem).
    static std::wstring ProblemData(IDetectedProblemKey* problem);
    static std::wstring ProblemValueName(IDetectedProblemKey* problem);
    void TraceClass() const;

    bool searchByName_ = true;

private:
    void ReadDriveOptions();
    bool Exists(const std::wstring& AName, bool folder);

    TRegistryCleanerOptions& options_;
    std::atomic<bool> scanCDDriveReferences_{false};
    std::atomic<bool> scanRemovableMediaReferences_{false};
    TDriveTypeQuery driveTypeQuery_;
};

// Accepts a text that contains an existing folder; a text without a drive letter is not
// judged.
class TFolderNameValidationAlgorithm : public TFileNameValidationAlgorithm {
public:
    TFolderNameValidationAlgorithm();
    explicit TFolderNameValidationAlgorithm(
        TRegistryCleanerOptions& options,
        std::unique_ptr<TAlgorithmRegistry> registry = CreateAlgorithmRegistry());

    bool IsValid(const std::wstring& AKey, const std::wstring& AValue, const std::wstring& AData) override;
    std::wstring GetDescriptionText() override;
    std::wstring GetShortDescriptionText(IDetectedProblemKey* problem) override;
    std::wstring GetCompleteDescriptionText(IDetectedProblemKey* problem) override;
    bool ObjectExists(const std::wstring& AName) override;

    bool ValidateFolder(const std::wstring& AData);

protected:
    const wchar_t* ClassName() const override { return L"TFolderNameValidationAlgorithm"; }
};

// Accepts a command line whose program exists or is registered.
class TCommandValidationAlgorithm : public TFileNameValidationAlgorithm {
public:
    using TFileNameValidationAlgorithm::TFileNameValidationAlgorithm;

    bool IsValid(const std::wstring& AKey, const std::wstring& AValue, const std::wstring& AData) override;

protected:
    const wchar_t* ClassName() const override { return L"TCommandValidationAlgorithm"; }
};

// Accepts a text whose full path is an existing file or folder (or, with CheckAsCommand, a
// valid command). A text that names several full paths, or none, is not judged.
class TFileOrFolderNameValidationAlgorithm : public TCommandValidationAlgorithm {
public:
    using TCommandValidationAlgorithm::TCommandValidationAlgorithm;

    bool IsValid(const std::wstring& AKey, const std::wstring& AValue, const std::wstring& AData) override;
    std::wstring GetDescriptionText() override;
    std::wstring GetShortDescriptionText(IDetectedProblemKey* problem) override;
    std::wstring GetCompleteDescriptionText(IDetectedProblemKey* problem) override;

    bool ValidateFullFileName(const std::wstring& AData);

    bool GetCheckAsCommand() const { return checkAsCommand_; }
    void SetCheckAsCommand(bool value) { checkAsCommand_ = value; }

protected:
    const wchar_t* ClassName() const override { return L"TFileOrFolderNameValidationAlgorithm"; }

private:
    bool checkAsCommand_ = false;
};

// Judges like the command check; its fix also removes the shell verb whose command it
// cleared, and the Shell key when nothing else is left in it.
class TShellCommandValidationAlgorithm : public TCommandValidationAlgorithm {
public:
    using TCommandValidationAlgorithm::TCommandValidationAlgorithm;

    bool FIX(const std::wstring& AKey, const std::wstring& AValue, const std::wstring& AData) override;

protected:
    const wchar_t* ClassName() const override { return L"TShellCommandValidationAlgorithm"; }
};

}  // namespace tidyhive
