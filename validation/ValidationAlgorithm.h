// The contract of every validation algorithm: judge one entry (key path, value name, data
// as text), describe a problem at three levels, and fix it through the ApplyFix template,
// which removes keys the fix left empty.
#pragma once

#include "engine/CommonInterfacedObject.h"
#include "validation/AlgorithmRegistry.h"

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace tidyhive {

class TValidationAlgorithm : public TCommonInterfacedObject<IValidationAlgorithm> {
public:
    // With the engine's registry access (CreateAlgorithmRegistry).
    TValidationAlgorithm();
    // With the given registry access; owned.
    explicit TValidationAlgorithm(std::unique_ptr<TAlgorithmRegistry> registry);
    ~TValidationAlgorithm() override;

    // Both flags can only become true on a 64-bit system; elsewhere a request stores false.
    virtual void SetDisableFsRedirection(bool value);
    // Also switches the registry access to (or away from) the 64-bit view.
    virtual void SetUse64BitView(bool value);

    // Whether the entry is valid. AKey is a full path with its root name; AValue is empty for
    // the default value or the key itself; AData is the data as text, or empty.
    virtual bool IsValid(const std::wstring& AKey, const std::wstring& AValue, const std::wstring& AData) = 0;
    // The kind of problem, independent of the entry. The base raises "Not Implemented".
    virtual std::wstring GetDescriptionText();
    // One line for the problem list; the base answers GetDescriptionText.
    virtual std::wstring GetShortDescriptionText(IDetectedProblemKey* problem);
    // A sentence for the detail pane, with markup; the base answers GetDescriptionText.
    virtual std::wstring GetCompleteDescriptionText(IDetectedProblemKey* problem);
    // Repairs the entry; true when it is repaired (or nothing is left to repair). A fix
    // judges the entry's current state, not the data recorded at scan time.
    virtual bool FIX(const std::wstring& AKey, const std::wstring& AValue, const std::wstring& AData) = 0;

    // The fix template: FIX, then, when FIX succeeded and changed something, the clean-up
    // chosen by the delete flags. Exceptions of FIX reach the caller; the clean-up never
    // changes the result.
    bool ApplyFix(const std::wstring& AKey, const std::wstring& AValue, const std::wstring& AData);

    // IValidationAlgorithm
    BSTR STDMETHODCALLTYPE GetShortDescription(IDetectedProblemKey* problem) final;
    BSTR STDMETHODCALLTYPE GetDescription() final;
    BSTR STDMETHODCALLTYPE GetCompleteDescription(IDetectedProblemKey* problem) final;

    // Emptiness tests and deletions. A registry failure makes a key count as not empty (and
    // as having subkeys) and ends an upward deletion walk.
    // No subkeys, and no values or only a default value that is a string and blank after
    // trimming (a default of any other type is content).
    bool IsKeyEmpty(const std::wstring& AKey);
    // No subkeys, and no values or only the default value, whatever it holds.
    bool IsKeyEmptyExceptDefault(const std::wstring& AKey);
    // True unless the key exists, can be listed and has no subkeys.
    bool HasSubKeys(const std::wstring& AKey);
    // Deletes the key if it is empty, then each ancestor that became empty, up to the first
    // one that is missing, not empty or cannot be deleted. A root is never deleted.
    void DeleteEmptyKey(const std::wstring& AKey);
    // Deletes the key whatever it holds, then its empty ancestors.
    void DeleteAnyKey(const std::wstring& AKey);

    bool GetAutoDeleteEmptyKey() const { return autoDeleteEmptyKey_; }
    void SetAutoDeleteEmptyKey(bool value) { autoDeleteEmptyKey_ = value; }
    bool GetAutoDeleteAnyKey() const { return autoDeleteAnyKey_; }
    // True also sets AutoDeleteEmptyKey; false leaves it as it is.
    void SetAutoDeleteAnyKey(bool value);
    bool GetUse64BitView() const { return use64BitView_; }
    bool GetDisableFsRedirection() const { return disableFsRedirection_; }

    TAlgorithmRegistry& Registry() { return *FRegistry; }

protected:
    // For a FIX that changes something outside the registry access (a file, a task): lets
    // the after-fix clean-up run.
    void NoteFixChange() { fixChanged_ = true; }

    // The three argument lines of a trace.
    static void TraceArguments(const std::wstring& AKey, const std::wstring& AValue,
                               const std::wstring& AData);
    // Replaces each "%s" of a localized pattern, in order, with the next argument. Unlike
    // printf it cannot misread a translation's stray format characters.
    static std::wstring FormatDescription(const std::wstring& pattern,
                                          std::initializer_list<std::wstring> args);
    // The problem's key path (empty without a problem).
    static std::wstring ProblemKeyPath(IDetectedProblemKey* problem);

    std::unique_ptr<TAlgorithmRegistry> FRegistry;
    std::vector<std::wstring> scratch_;

private:
    bool autoDeleteEmptyKey_ = false;
    bool autoDeleteAnyKey_ = false;
    bool use64BitView_ = false;
    bool disableFsRedirection_ = false;
    bool fixChanged_ = false;
};

}  // namespace tidyhive
