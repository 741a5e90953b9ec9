// Tidyhive registry-cleaning engine: the public interface a host includes.
//
// The host loads Tidyhive.dll, calls GetRegistryCleanerManager and drives the engine
// through the interfaces below. Conventions across the boundary:
//  - every method uses the standard calling convention (__stdcall);
//  - texts going in are zero-terminated wide strings (LPCWSTR);
//  - texts coming out are BSTRs that the caller owns and frees with SysFreeString;
//  - Booleans are 32-bit BOOLs, category types and small enumerations are BYTEs,
//    option values are VARIANTs;
//  - AddRef and Release do nothing: objects live as long as their owner inside the
//    engine; the host destroys the whole engine with IRegistryCleanerManager::Free.
//  - no method lets an exception escape; a failure answers an empty or false result.
#pragma once

#include <oaidl.h>
#include <unknwn.h>
#include <windows.h>

#include "tidyhive/Siblings.h"

namespace tidyhive {

// Category types; the names (see TypeNames) are persistent keys of the ignore-list files.
using TCategoryType = BYTE;
enum : BYTE {
    rctUndefined = 0,
    rctClasses = 1,
    rctFileAssocs = 2,
    rctFonts = 3,
    rctFileExts = 4,
    rctUninstall = 5,
    rctStartup = 6,
    rctSharedFiles = 7,
    rctHelpFiles = 8,
    rctAppPaths = 9,
    rctHistoryLists = 10,
    rctAppEvents = 11,
    rctVirtDevices = 12,
    rctShortcuts = 13,
    rctSoftware = 14,
    rctFireWall = 15,
    rctInternet = 16,
};
constexpr int kCategoryTypeCount = 17;  // rctUndefined .. rctInternet

// Problem statuses.
enum : BYTE { psSkip = 0, psFix = 1, psIgnore = 2 };

// Task states.
enum : BYTE { tsIdle = 0, tsPreparing = 1, tsRunning = 2, tsPaused = 3, tsFinished = 4, tsDestroying = 5 };

// Event kinds; an event set is a byte with bit k standing for kind k.
enum : BYTE { ekScanStarted = 1, ekScanFinished = 2, ekCleanStarted = 3, ekCleanFinished = 4 };
constexpr BYTE EventBit(BYTE kind) { return static_cast<BYTE>(1u << kind); }

// Running-task values of IRegistryCleanerManager::GetRunningTask.
enum : BYTE { rtNone = 0, rtScan = 1, rtClean = 2 };

struct IDetectedProblemKey;
struct IValidationAlgorithm;
struct IIgnoreList;

// {E352606E-7805-4D93-A669-3BC11973520C}
inline constexpr IID IID_ICategoryScanner = {
    0xE352606E, 0x7805, 0x4D93, {0xA6, 0x69, 0x3B, 0xC1, 0x19, 0x73, 0x52, 0x0C}};
struct ICategoryScanner : IUnknown {
    virtual TCategoryType STDMETHODCALLTYPE GetCategoryType() = 0;
    virtual BSTR STDMETHODCALLTYPE GetName() = 0;
    virtual BSTR STDMETHODCALLTYPE GetDescription() = 0;
    virtual BSTR STDMETHODCALLTYPE GetDetailedDescription() = 0;
    virtual BOOL STDMETHODCALLTYPE GetCategoryFlag() = 0;
};

// {56BF0F06-00E2-441F-A732-59088EB496E4}
inline constexpr IID IID_ICategoryCollection = {
    0x56BF0F06, 0x00E2, 0x441F, {0xA7, 0x32, 0x59, 0x08, 0x8E, 0xB4, 0x96, 0xE4}};
struct ICategoryCollection : IUnknown {
    virtual LONG STDMETHODCALLTYPE GetCount() = 0;
    virtual ICategoryScanner* STDMETHODCALLTYPE GetItem(LONG index) = 0;
    virtual ICategoryScanner* STDMETHODCALLTYPE GetItemByType(TCategoryType type) = 0;
    virtual ICategoryScanner* STDMETHODCALLTYPE AddCategory(TCategoryType type) = 0;
    virtual LONG STDMETHODCALLTYPE IndexOfCategory(TCategoryType type) = 0;
    virtual void STDMETHODCALLTYPE RemoveCategory(TCategoryType type) = 0;
    virtual void STDMETHODCALLTYPE Clear() = 0;
    virtual void STDMETHODCALLTYPE AddDefaultCategories() = 0;
    virtual void STDMETHODCALLTYPE AddAllCategories() = 0;
};

// {5163F37F-C848-4EF9-AB30-383AEFEB72EF}
inline constexpr IID IID_IValidationAlgorithm = {
    0x5163F37F, 0xC848, 0x4EF9, {0xAB, 0x30, 0x38, 0x3A, 0xEF, 0xEB, 0x72, 0xEF}};
struct IValidationAlgorithm : IUnknown {
    virtual BSTR STDMETHODCALLTYPE GetShortDescription(IDetectedProblemKey* problem) = 0;
    virtual BSTR STDMETHODCALLTYPE GetDescription() = 0;
    virtual BSTR STDMETHODCALLTYPE GetCompleteDescription(IDetectedProblemKey* problem) = 0;
};

// Option-change listener, implemented inside the engine.
// {7C425D4E-1693-4986-BE1B-9D1C7BE4FB65}
inline constexpr IID IID_IFileNameValidator = {
    0x7C425D4E, 0x1693, 0x4986, {0xBE, 0x1B, 0x9D, 0x1C, 0x7B, 0xE4, 0xFB, 0x65}};
struct IFileNameValidator : IUnknown {
    virtual void STDMETHODCALLTYPE OptionsChanged(LPCWSTR name) = 0;
};

// {7416AD63-3208-4EF7-B868-C82B837E93E8}
inline constexpr IID IID_IDetectedProblemKey = {
    0x7416AD63, 0x3208, 0x4EF7, {0xB8, 0x68, 0xC8, 0x2B, 0x83, 0x7E, 0x93, 0xE8}};
struct IDetectedProblemKey : IUnknown {
    virtual BYTE STDMETHODCALLTYPE GetStatus() = 0;
    virtual void STDMETHODCALLTYPE SetStatus(BYTE value) = 0;
    virtual BSTR STDMETHODCALLTYPE GetValueName() = 0;
    virtual BSTR STDMETHODCALLTYPE GetKeyPath() = 0;
    virtual BSTR STDMETHODCALLTYPE GetData() = 0;
    virtual TCategoryType STDMETHODCALLTYPE GetCategoryType() = 0;
    virtual IValidationAlgorithm* STDMETHODCALLTYPE GetAlgorithm() = 0;
    virtual BOOL STDMETHODCALLTYPE Fix() = 0;
};

// {971EF6E0-59E6-4095-8052-F9F16051BAD9}
inline constexpr IID IID_IKeysCollection = {
    0x971EF6E0, 0x59E6, 0x4095, {0x80, 0x52, 0xF9, 0xF1, 0x60, 0x51, 0xBA, 0xD9}};
struct IKeysCollection : IUnknown {
    virtual LONG STDMETHODCALLTYPE GetCount() = 0;
    virtual IDetectedProblemKey* STDMETHODCALLTYPE GetItem(LONG index) = 0;
};

// {60C432D5-6275-46AD-AADC-647DC07C955F}
inline constexpr IID IID_IDetectedProblemKeysStatistics = {
    0x60C432D5, 0x6275, 0x46AD, {0xAA, 0xDC, 0x64, 0x7D, 0xC0, 0x7C, 0x95, 0x5F}};
struct IDetectedProblemKeysStatistics : IUnknown {
    virtual IKeysCollection* STDMETHODCALLTYPE GetKeysToFix() = 0;
    virtual IKeysCollection* STDMETHODCALLTYPE GetKeysToIgnore() = 0;
    virtual IKeysCollection* STDMETHODCALLTYPE GetKeysToSkip() = 0;
    virtual LONG STDMETHODCALLTYPE GetFixedCount() = 0;
    virtual LONG STDMETHODCALLTYPE GetFailedCount() = 0;
    virtual LONG STDMETHODCALLTYPE GetTotalCount() = 0;
};

// {B548B912-47E0-407A-B512-9D0EE8E60423}
inline constexpr IID IID_IDetectedProblemKeysCollection = {
    0xB548B912, 0x47E0, 0x407A, {0xB5, 0x12, 0x9D, 0x0E, 0xE8, 0xE6, 0x04, 0x23}};
struct IDetectedProblemKeysCollection : IUnknown {
    virtual LONG STDMETHODCALLTYPE GetCount() = 0;
    virtual IDetectedProblemKey* STDMETHODCALLTYPE GetItem(LONG index) = 0;
    virtual IDetectedProblemKeysStatistics* STDMETHODCALLTYPE GetStatistics() = 0;
    virtual void STDMETHODCALLTYPE SetAllStatuses(BYTE value) = 0;
};

// {189725E1-E852-4A2C-9210-7CFED142E132}
inline constexpr IID IID_IIgnoreItem = {
    0x189725E1, 0xE852, 0x4A2C, {0x92, 0x10, 0x7C, 0xFE, 0xD1, 0x42, 0xE1, 0x32}};
struct IIgnoreItem : IUnknown {
    virtual BSTR STDMETHODCALLTYPE GetValue() = 0;
    virtual BSTR STDMETHODCALLTYPE GetKey() = 0;
    virtual BSTR STDMETHODCALLTYPE GetDisplay() = 0;
    virtual void STDMETHODCALLTYPE Delete() = 0;
};

// {1DFF3ADC-553A-4CFB-9E4F-8D985909D1B1}
inline constexpr IID IID_IIgnoreList = {
    0x1DFF3ADC, 0x553A, 0x4CFB, {0x9E, 0x4F, 0x8D, 0x98, 0x59, 0x09, 0xD1, 0xB1}};
struct IIgnoreList : IUnknown {
    // Answers the new item's index, or -1 when the item was refused.
    virtual LONG STDMETHODCALLTYPE Add(LPCWSTR key, LPCWSTR value) = 0;
    virtual void STDMETHODCALLTYPE DeleteItem(LONG index) = 0;
    virtual void STDMETHODCALLTYPE Clear() = 0;
    virtual BOOL STDMETHODCALLTYPE IsIgnored(LPCWSTR key, LPCWSTR value) = 0;
    virtual LONG STDMETHODCALLTYPE IndexOfDisplay(LPCWSTR display) = 0;
    virtual IIgnoreItem* STDMETHODCALLTYPE GetItem(LONG index) = 0;
    virtual LONG STDMETHODCALLTYPE GetCount() = 0;
    virtual void STDMETHODCALLTYPE LoadFromFile(LPCWSTR fileName) = 0;
    virtual void STDMETHODCALLTYPE Save() = 0;
};

// {F658BE84-BAB4-4310-935D-B0C7AC274A37}
inline constexpr IID IID_IRegistryCleanerOptions = {
    0xF658BE84, 0xBAB4, 0x4310, {0x93, 0x5D, 0xB0, 0xC7, 0xAC, 0x27, 0x4A, 0x37}};
struct IRegistryCleanerOptions : IUnknown {
    // value receives a copy (the caller clears it); VT_NULL for an unknown name.
    virtual void STDMETHODCALLTYPE GetOption(LPCWSTR name, VARIANT* value) = 0;
    virtual void STDMETHODCALLTYPE SetOption(LPCWSTR name, const VARIANT* value) = 0;
};

// Implemented by the host and registered with IEventManager; only HandleEvent is called.
struct IEventListener : IUnknown {
    virtual void STDMETHODCALLTYPE HandleEvent(BYTE kind) = 0;
};

// {B26749FA-E980-40BB-A195-5ED08AAA5878}
inline constexpr IID IID_IEventManager = {
    0xB26749FA, 0xE980, 0x40BB, {0xA1, 0x95, 0x5E, 0xD0, 0x8A, 0xAA, 0x58, 0x78}};
struct IEventManager : IUnknown {
    virtual BOOL STDMETHODCALLTYPE Subscribe(IEventListener* listener, BYTE events) = 0;
    virtual void STDMETHODCALLTYPE Unsubscribe(IEventListener* listener) = 0;
};

// {2E3B59C7-D182-4A51-A87C-DEF6169B5E74}
inline constexpr IID IID_ILogManager = {
    0x2E3B59C7, 0xD182, 0x4A51, {0xA8, 0x7C, 0xDE, 0xF6, 0x16, 0x9B, 0x5E, 0x74}};
struct ILogManager : IUnknown {
    virtual void STDMETHODCALLTYPE BeginReport() = 0;
    virtual void STDMETHODCALLTYPE OpenElement(LPCWSTR name) = 0;
    virtual void STDMETHODCALLTYPE CloseElement() = 0;
    virtual void STDMETHODCALLTYPE CloseElementNamed(LPCWSTR name) = 0;
    virtual void STDMETHODCALLTYPE SetAttribute(LPCWSTR name, LPCWSTR value) = 0;
};

// Both tasks answer this identifier; the scan task continues with IScanTask's methods,
// the clean task with ICleanTask's.
// {36EABA1F-2178-4768-BAE7-7AAE1E21C140}
inline constexpr IID IID_IEngineTask = {
    0x36EABA1F, 0x2178, 0x4768, {0xBA, 0xE7, 0x7A, 0xAE, 0x1E, 0x21, 0xC1, 0x40}};
struct IEngineTask : IUnknown {
    virtual void STDMETHODCALLTYPE Start() = 0;
    virtual void STDMETHODCALLTYPE Pause() = 0;
    virtual void STDMETHODCALLTYPE Resume() = 0;
    virtual void STDMETHODCALLTYPE Stop() = 0;
    virtual LONG STDMETHODCALLTYPE GetMaxProgress() = 0;
    virtual LONG STDMETHODCALLTYPE GetProgress() = 0;
    virtual BYTE STDMETHODCALLTYPE GetPriority() = 0;
    virtual void STDMETHODCALLTYPE SetPriority(BYTE value) = 0;
};

struct IScanTask : IEngineTask {
    virtual ICategoryScanner* STDMETHODCALLTYPE GetCurrentCategory() = 0;
    virtual LONG STDMETHODCALLTYPE GetKeysScanned() = 0;
    virtual LONG STDMETHODCALLTYPE GetValuesScanned() = 0;
    virtual LONG STDMETHODCALLTYPE GetCategoriesScanned() = 0;
    virtual LONG STDMETHODCALLTYPE GetCategoriesCount() = 0;
    virtual BSTR STDMETHODCALLTYPE GetCurrentKey() = 0;
    virtual BSTR STDMETHODCALLTYPE GetCurrentItemDescription() = 0;
    virtual LONG STDMETHODCALLTYPE GetValuesIgnored() = 0;
    virtual LONG STDMETHODCALLTYPE GetProblemsFound() = 0;
};

struct ICleanTask : IEngineTask {
    virtual LONG STDMETHODCALLTYPE GetProblemsFixed() = 0;
    virtual LONG STDMETHODCALLTYPE GetFailedToFix() = 0;
    virtual LONG STDMETHODCALLTYPE GetProblemsSkipped() = 0;
    virtual LONG STDMETHODCALLTYPE GetProblemsIgnored() = 0;
    virtual TCategoryType STDMETHODCALLTYPE GetCurrentCategoryType() = 0;
    virtual void STDMETHODCALLTYPE MoveIgnoredToIgnoreLists(BOOL clearProblems) = 0;
};

// {3DAD59D8-48FF-43A0-8F0C-43D40C77FDFF}
inline constexpr IID IID_IRegistryCleanerManager = {
    0x3DAD59D8, 0x48FF, 0x43A0, {0x8F, 0x0C, 0x43, 0xD4, 0x0C, 0x77, 0xFD, 0xFF}};
struct IRegistryCleanerManager : IUnknown {
    virtual void STDMETHODCALLTYPE Free() = 0;
    virtual IScanTask* STDMETHODCALLTYPE GetScanManager() = 0;
    virtual ICleanTask* STDMETHODCALLTYPE GetCleanerManager() = 0;
    virtual ILogManager* STDMETHODCALLTYPE GetLogManager() = 0;
    virtual IIgnoreList* STDMETHODCALLTYPE GetIgnoreList(TCategoryType type) = 0;
    virtual BYTE STDMETHODCALLTYPE GetRunningTask() = 0;
    virtual ICategoryCollection* STDMETHODCALLTYPE GetCategories() = 0;
    virtual IDetectedProblemKeysCollection* STDMETHODCALLTYPE GetDetectedKeys(TCategoryType type) = 0;
    virtual IRegistryCleanerOptions* STDMETHODCALLTYPE GetOptions() = 0;
    virtual IEventManager* STDMETHODCALLTYPE GetEventManager() = 0;
    virtual IBackvault* STDMETHODCALLTYPE GetBackupLibrary() = 0;
    virtual void STDMETHODCALLTYPE SaveIgnoreLists() = 0;
};

// The one export: creates a new, independent engine root. Answers S_OK, E_POINTER for a
// null argument, or E_FAIL (with *manager cleared) when the engine could not be created.
using GetRegistryCleanerManagerFn = HRESULT(WINAPI*)(IRegistryCleanerManager** manager);
inline constexpr char kGetRegistryCleanerManagerExport[] = "GetRegistryCleanerManager";

}  // namespace tidyhive
