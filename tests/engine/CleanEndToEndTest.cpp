// Scan, clean and undo as a whole, driven through the export exactly as a host drives them:
// dead autostart entries (both registry views), a dead scheduled task and dead open-with
// entries are planted beside live look-alikes; the clean must remove exactly the dead ones
// inside one backup session, and restoring that session must bring back every byte.
#include "services/Text.h"
#include "tests/support/BackvaultTesting.h"
#include "tests/support/EngineLibrary.h"
#include "tests/support/PlantedTask.h"
#include "tests/support/TestRegistry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace tidyhive {
namespace {

using testing::DumpTree;
using testing::NewGuidText;
using testing::PumpUntil;
using testing::ReadFileBytes;
using testing::RootName;
using testing::Take;
using testing::TEngineLibrary;
using testing::TEnsuredKey;
using testing::TPlantedTask;
using testing::TRootOwner;
using testing::TTestFolder;
using testing::TTestKey;

constexpr wchar_t kRunPath[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kFileExtsPath[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts";

std::string Utf8(const std::wstring& text)
{
    return WideToUtf8(text);
}

std::wstring Hex(const std::vector<uint8_t>& bytes)
{
    return testing::ToHex(bytes, SIZE_MAX);
}

const wchar_t* ViewName(REGSAM view)
{
    return view == KEY_WOW64_64KEY ? L"64" : L"32";
}

bool KeyOpens(HKEY root, const std::wstring& path, REGSAM view)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

// Values of a test's own in a shared key (a Run key), removed at the end whatever happened.
class TPlantedValues {
public:
    TPlantedValues(HKEY root, const std::wstring& path, REGSAM view) : key_(root, path, view) {}
    ~TPlantedValues()
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(key_.Root(), key_.Path().c_str(), 0, KEY_SET_VALUE | key_.View(), &key) ==
            ERROR_SUCCESS) {
            for (const std::wstring& name : names_) {
                RegDeleteValueW(key, name.c_str());
            }
            RegCloseKey(key);
        }
    }
    TPlantedValues(const TPlantedValues&) = delete;
    TPlantedValues& operator=(const TPlantedValues&) = delete;

    void Set(const std::wstring& name, const std::wstring& data, DWORD type = REG_SZ)
    {
        if (std::find(names_.begin(), names_.end(), name) == names_.end()) {
            names_.push_back(name);
        }
        HKEY key = nullptr;
        LONG status = RegOpenKeyExW(key_.Root(), key_.Path().c_str(), 0, KEY_SET_VALUE | key_.View(), &key);
        if (status == ERROR_SUCCESS) {
            status = RegSetValueExW(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.c_str()),
                                    static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
            RegCloseKey(key);
        }
        if (status != ERROR_SUCCESS) {
            throw std::runtime_error("cannot plant " + Utf8(name) + ": error " + std::to_string(status));
        }
    }
    // The value's text; "(absent)" when it is not there.
    std::wstring Read(const std::wstring& name) const
    {
        std::vector<uint8_t> bytes;
        DWORD type = 0;
        if (!Query(name, type, bytes)) {
            return L"(absent)";
        }
        std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
        return text.substr(0, text.find(L'\0'));
    }
    // One line per planted value, in name order: name, type and raw bytes, or absent.
    std::wstring Dump() const
    {
        std::vector<std::wstring> names = names_;
        std::sort(names.begin(), names.end());
        std::wstring out;
        for (const std::wstring& name : names) {
            std::vector<uint8_t> bytes;
            DWORD type = 0;
            out += key_.FullPath() + L" [" + ViewName(key_.View()) + L"] \"" + name + L"\" ";
            out +=
                Query(name, type, bytes) ? L"type=" + std::to_wstring(type) + L" " + Hex(bytes) : L"absent";
            out += L"\n";
        }
        return out;
    }
    // The path a finding names (the long root name and the key path).
    std::wstring FullPath() const { return key_.FullPath(); }

private:
    bool Query(const std::wstring& name, DWORD& type, std::vector<uint8_t>& bytes) const
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(key_.Root(), key_.Path().c_str(), 0, KEY_QUERY_VALUE | key_.View(), &key) !=
            ERROR_SUCCESS) {
            return false;
        }
        DWORD size = 0;
        LONG status = RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size);
        if (status == ERROR_SUCCESS) {
            bytes.resize(size);
            status = RegQueryValueExW(key, name.c_str(), nullptr, &type, bytes.data(), &size);
            bytes.resize(size);
        }
        RegCloseKey(key);
        return status == ERROR_SUCCESS;
    }

    TEnsuredKey key_;
    std::vector<std::wstring> names_;
};

// An extension of a test's own under the Explorer's FileExts key, planted through one view.
class TPlantedExtension {
public:
    TPlantedExtension(const std::wstring& token, bool view64)
        : key_(L".tidyhive" + token, view64, HKEY_CURRENT_USER, kFileExtsPath)
    {
    }
    // An open-with list: the entries named a, b, c ... in order, and MRUList in the given order.
    void OpenWithList(const std::vector<std::wstring>& applications, const std::wstring& order) const
    {
        for (size_t index = 0; index < applications.size(); ++index) {
            key_.SetString(L"OpenWithList", std::wstring(1, static_cast<wchar_t>(L'a' + index)),
                           applications[index]);
        }
        key_.SetString(L"OpenWithList", L"MRUList", order);
    }
    // ProgID entries: the value names are the ProgIDs, with no data, as the Explorer writes them.
    void OpenWithProgids(const std::vector<std::wstring>& progIds) const
    {
        key_.CreateSubKey(L"OpenWithProgids");
        HKEY key = nullptr;
        RegOpenKeyExW(HKEY_CURRENT_USER, (key_.SubPath() + L"\\OpenWithProgids").c_str(), 0,
                      KEY_SET_VALUE | key_.View(), &key);
        for (const std::wstring& progId : progIds) {
            RegSetValueExW(key, progId.c_str(), 0, REG_NONE, nullptr, 0);
        }
        RegCloseKey(key);
    }
    std::wstring Path(const std::wstring& relative = {}) const
    {
        return relative.empty() ? key_.FullPath() : key_.FullPath() + L"\\" + relative;
    }
    const TTestKey& Key() const { return key_; }
    // The whole tree in both views.
    std::wstring Dump() const
    {
        return key_.FullPath() + L" [64]\n" + DumpTree(HKEY_CURRENT_USER, key_.SubPath(), KEY_WOW64_64KEY) +
               key_.FullPath() + L" [32]\n" + DumpTree(HKEY_CURRENT_USER, key_.SubPath(), KEY_WOW64_32KEY);
    }
    std::wstring Read(const std::wstring& relative, const std::wstring& name) const
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, (key_.SubPath() + L"\\" + relative).c_str(), 0,
                          KEY_QUERY_VALUE | key_.View(), &key) != ERROR_SUCCESS) {
            return L"(no key)";
        }
        wchar_t text[1024] = {};
        DWORD size = sizeof(text) - sizeof(wchar_t);
        const LONG status =
            RegQueryValueExW(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
        RegCloseKey(key);
        return status == ERROR_SUCCESS ? std::wstring(text) : L"(absent)";
    }

private:
    TTestKey key_;
};

// What the host sees of one detected problem.
struct TFinding {
    TCategoryType type;
    std::wstring key;
    std::wstring value;
    IDetectedProblemKey* problem;
    std::wstring Text() const { return key + L" | " + value; }
};

std::vector<TFinding> Findings(IRegistryCleanerManager* root)
{
    std::vector<TFinding> findings;
    ICategoryCollection* categories = root->GetCategories();
    for (LONG c = 0; c < categories->GetCount(); ++c) {
        const TCategoryType type = categories->GetItem(c)->GetCategoryType();
        IDetectedProblemKeysCollection* problems = root->GetDetectedKeys(type);
        for (LONG p = 0; problems && p < problems->GetCount(); ++p) {
            IDetectedProblemKey* problem = problems->GetItem(p);
            findings.push_back({type, Take(problem->GetKeyPath()), Take(problem->GetValueName()), problem});
        }
    }
    return findings;
}

bool Mentions(const TFinding& finding, const std::wstring& token)
{
    return finding.key.find(token) != std::wstring::npos || finding.value.find(token) != std::wstring::npos;
}

// The test's own findings, as "key | value" (each once: the two walks of the open-with records
// find the same entry twice when the views share the key).
std::set<std::wstring> OwnFindings(const std::vector<TFinding>& findings, const std::wstring& token)
{
    std::set<std::wstring> own;
    for (const TFinding& finding : findings) {
        if (Mentions(finding, token)) {
            own.insert(finding.Text());
        }
    }
    return own;
}

// The test's own problems are fixed; everything the prefix itself holds is skipped, so that
// the clean never touches it. Answers how many problems are marked for fixing.
LONG MarkOwnForFixing(const std::vector<TFinding>& findings, const std::wstring& token)
{
    LONG marked = 0;
    for (const TFinding& finding : findings) {
        const bool own = Mentions(finding, token);
        finding.problem->SetStatus(own ? psFix : psSkip);
        marked += own ? 1 : 0;
    }
    return marked;
}

std::wstring Join(const std::set<std::wstring>& lines)
{
    std::wstring text;
    for (const std::wstring& line : lines) {
        text += L"  " + line + L"\n";
    }
    return text;
}

// An application the prefix registers under App Paths, which both registry views share.
std::wstring RegisteredApplication()
{
    HKEY paths = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths", 0,
                      KEY_READ | KEY_WOW64_64KEY, &paths) != ERROR_SUCCESS) {
        return {};
    }
    std::wstring found;
    for (DWORD index = 0; found.empty(); ++index) {
        wchar_t name[256] = {};
        DWORD length = 256;
        if (RegEnumKeyExW(paths, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        const std::wstring path =
            L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\" + std::wstring(name);
        if (KeyOpens(HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY)) {
            found = name;
        }
    }
    RegCloseKey(paths);
    return found;
}

// Hears when a task ended by itself.
class TFinishListener : public IEventListener {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override
    {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    void STDMETHODCALLTYPE HandleEvent(BYTE kind) override { kinds.push_back(kind); }
    bool Heard(BYTE kind) const { return std::find(kinds.begin(), kinds.end(), kind) != kinds.end(); }
    std::vector<BYTE> kinds;
};

// The backup library's sessions go to a test folder of their own while the test runs.
class TSessionStorage {
public:
    explicit TSessionStorage(IBackvault* backup) : backup_(backup)
    {
        status_ = backup_ ? backup_->SetStorageFolder(folder_.Path().c_str()) : E_POINTER;
    }
    ~TSessionStorage()
    {
        if (backup_ && SUCCEEDED(status_)) {
            backup_->SetStorageFolder(nullptr);
        }
    }
    TSessionStorage(const TSessionStorage&) = delete;
    TSessionStorage& operator=(const TSessionStorage&) = delete;

    bool Ready() const { return SUCCEEDED(status_); }

    // The one session of the folder; empty (and the reason in why) unless there is exactly one.
    std::wstring OnlySession(BackvaultSessionInfo& info, std::string& why) const
    {
        const LONG count = backup_->GetSessionCount();
        if (count != 1) {
            why = "sessions in the test's storage: " + std::to_string(count);
            return {};
        }
        if (FAILED(backup_->GetSessionInfo(0, &info))) {
            why = "GetSessionInfo failed";
            return {};
        }
        return info.id ? info.id : L"";
    }

    // Undoes the session; S_OK when everything came back.
    HRESULT Restore(const std::wstring& id, std::wstring& report) const
    {
        BSTR text = nullptr;
        const HRESULT status = backup_->RestoreSession(id.c_str(), FALSE, &text);
        report = Take(text);
        if (FAILED(status)) {
            BSTR error = nullptr;
            backup_->GetLastErrorText(&error);
            report += L"\n" + Take(error);
        }
        return status;
    }

private:
    IBackvault* backup_;
    TTestFolder folder_;
    HRESULT status_ = E_FAIL;
};

class CleanEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        token = NewGuidText();
        root->GetEventManager()->Subscribe(&listener, 0xFF);
    }
    void TearDown() override
    {
        if (root->GetRunningTask() != rtNone) {
            root->GetCleanerManager()->Stop();
            root->GetScanManager()->Stop();
        }
        root->GetEventManager()->Unsubscribe(&listener);
    }

    // Scans the categories, in this order, to the end.
    void Scan(std::initializer_list<TCategoryType> types)
    {
        for (const TCategoryType type : types) {
            ASSERT_NE(root->GetCategories()->AddCategory(type), nullptr) << int(type);
        }
        listener.kinds.clear();
        root->GetScanManager()->Start();
        ASSERT_TRUE(PumpUntil([&] { return listener.Heard(ekScanFinished); }, 120000))
            << "the scan did not finish";
    }

    TEngineLibrary library;
    TRootOwner root{library.CreateRoot()};
    TFinishListener listener;
    std::wstring token;
};

TEST_F(CleanEndToEndTest, CleanRemovesExactlyTheDeadEntriesAndRestoreBringsBackEveryByte)
{
    TTestFolder folder;
    const std::wstring liveExe = folder.AddFile(L"Live App\\app.exe", "MZ");
    const std::wstring gone = L"C:\\tidyhive-gone-" + token + L"\\";
    const std::wstring application = RegisteredApplication();
    ASSERT_FALSE(application.empty()) << "the prefix registers no application under App Paths";
    // A live ProgID of the test's own in both views. On Windows the class keys of ProgIDs are
    // shared between the views; this prefix's 32-bit class view is nearly empty (Wine keeps
    // it apart, and the 32-bit side of the prefix never registered), so "txtfile" would look
    // missing to the 32-bit walk.
    const std::wstring progId = L"Tidyhive.Live." + token;
    const TEnsuredKey liveClass64(HKEY_LOCAL_MACHINE, L"Software\\Classes\\" + progId, KEY_WOW64_64KEY);
    const TEnsuredKey liveClass32(HKEY_LOCAL_MACHINE, L"Software\\Classes\\" + progId, KEY_WOW64_32KEY);

    // Autostart values: the machine's Run key in both views and the user's.
    TPlantedValues machine64(HKEY_LOCAL_MACHINE, kRunPath, KEY_WOW64_64KEY);
    TPlantedValues machine32(HKEY_LOCAL_MACHINE, kRunPath, KEY_WOW64_32KEY);
    TPlantedValues user(HKEY_CURRENT_USER, kRunPath, KEY_WOW64_64KEY);
    const std::wstring dead64 = L"Dead64-" + token;
    const std::wstring dead32 = L"Dead32-" + token;
    const std::wstring deadUser = L"DeadUser-" + token;
    const std::wstring mendedUser = L"MendedUser-" + token;
    machine64.Set(dead64, L"\"" + gone + L"app.exe\" /background");
    machine64.Set(L"Live64-" + token, L"\"" + liveExe + L"\" /background");
    machine32.Set(dead32, gone + L"tray.exe -min");
    machine32.Set(L"Live32-" + token, L"\"%SystemRoot%\\system32\\notepad.exe\" /x", REG_EXPAND_SZ);
    user.Set(deadUser, L"%ProgramFiles%\\Tidyhive Gone " + token + L"\\run.exe /s", REG_EXPAND_SZ);
    user.Set(L"LiveUser-" + token, L"cmd.exe /c exit");
    user.Set(mendedUser, gone + L"later.exe");

    // Scheduled tasks, judged as the Run values are: environment variables, quotes, and a bare
    // name registered under App Paths; a dead one the user chose to ignore is not reported. Wine's scheduler
    // stores a bare name that it finds along the search path (cmd.exe, even iexplore.exe) as a full path, so
    // the bare one is a name of the test's own, registered for the test.
    const std::wstring taskPrefix = L"tidyhive-e2e-" + token;
    const std::wstring bareName = L"tidyhive-live-" + token + L".exe";
    const TEnsuredKey bareRegistration(
        HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\" + bareName,
        KEY_WOW64_64KEY);
    TPlantedTask deadTask(gone + L"task.exe", taskPrefix);
    TPlantedTask mendedTask(gone + L"later.exe", taskPrefix);
    TPlantedTask envTask(L"%windir%\\system32\\cmd.exe", taskPrefix);
    TPlantedTask bareTask(bareName, taskPrefix);
    TPlantedTask quotedTask(L"\"" + liveExe + L"\"", taskPrefix);
    TPlantedTask ignoredTask(gone + L"ignored.exe", taskPrefix);
    for (const TPlantedTask* task :
         {&deadTask, &mendedTask, &envTask, &bareTask, &quotedTask, &ignoredTask}) {
        ASSERT_TRUE(task->Planted()) << "the platform's Task Scheduler 1.0 did not save "
                                     << Utf8(task->Name());
        ASSERT_FALSE(task->JobFile().empty()) << Utf8(task->Name());
    }
    std::wstring program;
    ASSERT_TRUE(bareTask.Program(program));
    ASSERT_EQ(program, bareName) << "the scheduler kept the bare name as it was given";
    // The user's ignore list covers a task by its name and program (in memory only: nothing
    // saves the list in this test).
    IIgnoreList* startupIgnores = root->GetIgnoreList(rctStartup);
    ASSERT_NE(startupIgnores, nullptr);
    const LONG ignoredItem =
        startupIgnores->Add((ignoredTask.Name() + L".job").c_str(), (gone + L"ignored.exe").c_str());
    ASSERT_GE(ignoredItem, 0);

    // Open-with records: dead and live side by side (64-bit view), all dead (32-bit view), one
    // entry mended after the scan and one list emptied by hand after the scan.
    TEnsuredKey fileExts(HKEY_CURRENT_USER, kFileExtsPath, KEY_WOW64_64KEY);
    const std::wstring deadApp = L"tidyhive-gone-" + token + L".exe";
    const std::wstring deadProgId = L"Tidyhive.Gone." + token;
    TPlantedExtension mixed(token, true);
    mixed.OpenWithList({deadApp, application, L"tidyhive-gone2-" + token + L".exe"}, L"cab");
    mixed.OpenWithProgids({deadProgId, progId});
    TPlantedExtension allDead(token, false);
    allDead.OpenWithList({deadApp}, L"a");
    allDead.OpenWithProgids({deadProgId});
    TPlantedExtension mended(token, true);
    mended.OpenWithList({deadApp}, L"a");
    TPlantedExtension emptied(token, false);
    emptied.OpenWithList({deadApp}, L"a");

    ASSERT_NO_FATAL_FAILURE(Scan({rctStartup, rctFileExts}));
    const std::vector<TFinding> findings = Findings(root.get());
    const std::wstring machineRun = machine64.FullPath();
    const std::wstring userRun = user.FullPath();
    const std::set<std::wstring> expected = {
        machineRun + L" | " + dead64,
        machineRun + L" | " + dead32,
        userRun + L" | " + deadUser,
        userRun + L" | " + mendedUser,
        deadTask.Name() + L".job | " + gone + L"task.exe",
        mendedTask.Name() + L".job | " + gone + L"later.exe",
        mixed.Path(L"OpenWithList") + L" | a",
        mixed.Path(L"OpenWithList") + L" | c",
        mixed.Path(L"OpenWithProgids") + L" | " + deadProgId,
        allDead.Path(L"OpenWithList") + L" | a",
        allDead.Path(L"OpenWithProgids") + L" | " + deadProgId,
        mended.Path(L"OpenWithList") + L" | a",
        emptied.Path(L"OpenWithList") + L" | a",
    };
    const std::set<std::wstring> own = OwnFindings(findings, token);
    ASSERT_EQ(own, expected) << "found:\n" << Utf8(Join(own)) << "expected:\n" << Utf8(Join(expected));
    EXPECT_GE(root->GetScanManager()->GetValuesIgnored(), 1) << "the ignored dead task is counted as ignored";
    startupIgnores->DeleteItem(ignoredItem);

    const LONG toFix = MarkOwnForFixing(findings, token);
    const LONG toSkip = static_cast<LONG>(findings.size()) - toFix;

    // Between the scan and the clean the entries change: a fix judges what is there now.
    user.Set(mendedUser, L"\"" + liveExe + L"\" /mended");
    ASSERT_TRUE(mendedTask.SetProgram(L"\"" + liveExe + L"\""));
    mended.Key().SetString(L"OpenWithList", L"a", application);
    {
        HKEY list = nullptr;
        ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, (emptied.Key().SubPath() + L"\\OpenWithList").c_str(), 0,
                                KEY_SET_VALUE | KEY_WOW64_32KEY, &list),
                  ERROR_SUCCESS);
        RegDeleteValueW(list, L"a");
        RegDeleteValueW(list, L"MRUList");
        RegCloseKey(list);
    }

    const auto dump = [&] {
        std::wstring out = machine64.Dump() + machine32.Dump() + user.Dump();
        for (const TPlantedExtension* extension : {&mixed, &allDead, &mended, &emptied}) {
            out += extension->Dump();
        }
        for (const TPlantedTask* task :
             {&deadTask, &mendedTask, &envTask, &bareTask, &quotedTask, &ignoredTask}) {
            out += task->JobFile() + L" " + Hex(ReadFileBytes(task->JobFile())) + L"\n";
        }
        return out;
    };
    const std::wstring before = dump();

    TSessionStorage storage(root->GetBackupLibrary());
    ASSERT_TRUE(storage.Ready());
    ICleanTask* clean = root->GetCleanerManager();
    listener.kinds.clear();
    clean->Start();
    ASSERT_TRUE(PumpUntil([&] { return listener.Heard(ekCleanFinished); }, 120000))
        << "the clean did not finish";
    EXPECT_EQ(clean->GetFailedToFix(), 1)
        << "only the task whose program came back is left (its fix answers false)";
    EXPECT_EQ(clean->GetProblemsFixed(), toFix - 1);
    EXPECT_EQ(clean->GetProblemsSkipped(), toSkip);

    // The dead entries are gone, the live and the mended ones stay as they were.
    EXPECT_EQ(machine64.Read(dead64), L"(absent)");
    EXPECT_EQ(machine64.Read(L"Live64-" + token), L"\"" + liveExe + L"\" /background");
    EXPECT_EQ(machine32.Read(dead32), L"(absent)") << "the 32-bit view's Run key is judged too";
    EXPECT_EQ(machine32.Read(L"Live32-" + token), L"\"%SystemRoot%\\system32\\notepad.exe\" /x");
    EXPECT_EQ(user.Read(deadUser), L"(absent)");
    EXPECT_EQ(user.Read(L"LiveUser-" + token), L"cmd.exe /c exit");
    EXPECT_EQ(user.Read(mendedUser), L"\"" + liveExe + L"\" /mended")
        << "a value made good after the scan stays";

    EXPECT_FALSE(deadTask.Program(program)) << "the dead task is deleted; it still runs " << Utf8(program);
    EXPECT_EQ(GetFileAttributesW(deadTask.JobFile().c_str()), INVALID_FILE_ATTRIBUTES);
    for (const TPlantedTask* task : {&envTask, &bareTask, &quotedTask, &ignoredTask}) {
        EXPECT_TRUE(task->Program(program)) << "a live or ignored task is deleted: " << Utf8(task->Name());
    }
    ASSERT_TRUE(mendedTask.Program(program)) << "a task whose program came back after the scan stays";
    EXPECT_EQ(program, L"\"" + liveExe + L"\"");

    EXPECT_EQ(mixed.Read(L"OpenWithList", L"a"), L"(absent)");
    EXPECT_EQ(mixed.Read(L"OpenWithList", L"b"), application);
    EXPECT_EQ(mixed.Read(L"OpenWithList", L"c"), L"(absent)");
    EXPECT_EQ(mixed.Read(L"OpenWithList", L"MRUList"), L"b") << "the order list names what is left";
    EXPECT_FALSE(mixed.Key().ValueExists(L"OpenWithProgids", deadProgId));
    EXPECT_TRUE(mixed.Key().ValueExists(L"OpenWithProgids", progId));
    EXPECT_FALSE(allDead.Key().Exists()) << "an extension left empty goes with its emptied lists";
    EXPECT_EQ(mended.Read(L"OpenWithList", L"a"), application);
    EXPECT_EQ(mended.Read(L"OpenWithList", L"MRUList"), L"a");
    EXPECT_TRUE(emptied.Key().Exists(L"OpenWithList"))
        << "a fix that changed nothing (the entry was gone already) must not tidy up the empty key";

    // Undo: the session brings back every byte the clean changed, the .job file included.
    BackvaultSessionInfo info{};
    std::string why;
    const std::wstring id = storage.OnlySession(info, why);
    ASSERT_FALSE(id.empty()) << why;
    EXPECT_TRUE(info.complete);
    EXPECT_GT(info.changes, 0);
    ClearSessionInfo(info);
    std::wstring report;
    EXPECT_EQ(storage.Restore(id, report), S_OK) << Utf8(report);
    const std::wstring after = dump();
    EXPECT_EQ(after, before) << "before the clean:\n"
                             << Utf8(before) << "after the restore:\n"
                             << Utf8(after);
    ASSERT_TRUE(deadTask.Program(program)) << "restoring the session brings the task back";
    EXPECT_EQ(program, gone + L"task.exe");
}

TEST_F(CleanEndToEndTest, StoppedCleanLeavesASessionThatRestoresWhatWasChanged)
{
    // Enough dead open-with entries and Run values that a clean can be stopped half-way.
    TEnsuredKey fileExts(HKEY_CURRENT_USER, kFileExtsPath, KEY_WOW64_64KEY);
    std::vector<std::unique_ptr<TPlantedExtension>> extensions;
    for (int index = 0; index < 12; ++index) {
        auto extension = std::make_unique<TPlantedExtension>(token, index % 2 == 0);
        std::vector<std::wstring> applications;
        std::wstring order;
        for (int entry = 0; entry < 20; ++entry) {
            applications.push_back(L"tidyhive-gone-" + std::to_wstring(entry) + L"-" + token + L".exe");
            order.insert(order.begin(), static_cast<wchar_t>(L'a' + entry));
        }
        extension->OpenWithList(applications, order);
        std::vector<std::wstring> progIds;
        for (int entry = 0; entry < 5; ++entry) {
            progIds.push_back(L"Tidyhive.Gone" + std::to_wstring(entry) + L"." + token);
        }
        extension->OpenWithProgids(progIds);
        extensions.push_back(std::move(extension));
    }
    TPlantedValues user(HKEY_CURRENT_USER, kRunPath, KEY_WOW64_64KEY);
    for (int index = 0; index < 40; ++index) {
        user.Set(L"Dead" + std::to_wstring(index) + L"-" + token,
                 L"C:\\tidyhive-gone-" + token + L"\\app" + std::to_wstring(index) + L".exe");
    }

    // The open-with records come first, so the stop falls inside them.
    ASSERT_NO_FATAL_FAILURE(Scan({rctFileExts, rctStartup}));
    const std::vector<TFinding> findings = Findings(root.get());
    ASSERT_EQ(OwnFindings(findings, token).size(), 12u * 25u + 40u);
    MarkOwnForFixing(findings, token);

    const auto dump = [&] {
        std::wstring out = user.Dump();
        for (const auto& extension : extensions) {
            out += extension->Dump();
        }
        return out;
    };
    const std::wstring before = dump();

    TSessionStorage storage(root->GetBackupLibrary());
    ASSERT_TRUE(storage.Ready());
    ICleanTask* clean = root->GetCleanerManager();
    listener.kinds.clear();
    // Step by step: a pause waits at the worker's next checkpoint, before the next problem, so
    // each resume lets a problem or a few through; stop once a whole extension was cleaned.
    clean->Start();
    clean->Pause();
    while (clean->GetProblemsFixed() < 30 && root->GetRunningTask() == rtClean) {
        const LONG progress = clean->GetProgress();
        clean->Resume();
        clean->Pause();
        ASSERT_TRUE(PumpUntil([&] {
            return clean->GetProgress() > progress || root->GetRunningTask() != rtClean;
        })) << "the clean made no progress after a resume";
    }
    ASSERT_EQ(root->GetRunningTask(), rtClean) << "the clean ended before it could be stopped";
    clean->Stop();
    EXPECT_EQ(root->GetRunningTask(), rtNone);
    EXPECT_FALSE(listener.Heard(ekCleanFinished)) << "a stopped clean does not report a finish";
    const LONG fixed = clean->GetProblemsFixed();
    EXPECT_GE(fixed, 30);
    EXPECT_EQ(root->GetDetectedKeys(rctFileExts)->GetCount(), 0)
        << "the interrupted category's problems are gone";
    EXPECT_GT(root->GetDetectedKeys(rctStartup)->GetCount(), 0) << "the categories after it keep theirs";

    // Something was changed, not everything.
    int changed = 0;
    int removed = 0;
    int untouched = 0;
    for (const auto& extension : extensions) {
        if (before.find(extension->Dump()) == std::wstring::npos) {
            ++changed;
            removed += extension->Key().Exists() ? 0 : 1;
        } else {
            ++untouched;
        }
    }
    EXPECT_GT(changed, 0) << fixed << " problems were fixed";
    EXPECT_GT(removed, 0) << "an extension whose every entry was fixed goes as a whole";
    EXPECT_GT(untouched, 0);
    EXPECT_EQ(user.Dump(), before.substr(0, user.Dump().size())) << "the startup category was never reached";
    EXPECT_NE(dump(), before);

    BackvaultSessionInfo info{};
    std::string why;
    const std::wstring id = storage.OnlySession(info, why);
    ASSERT_FALSE(id.empty()) << why;
    EXPECT_TRUE(info.complete) << "a stop still closes the session";
    EXPECT_GT(info.changes, 0);
    ClearSessionInfo(info);
    std::wstring report;
    EXPECT_EQ(storage.Restore(id, report), S_OK) << Utf8(report);
    const std::wstring after = dump();
    EXPECT_EQ(after, before) << "before the clean:\n"
                             << Utf8(before) << "after the restore:\n"
                             << Utf8(after);
}

}  // namespace
}  // namespace tidyhive
