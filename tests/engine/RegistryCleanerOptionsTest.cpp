// Scan options: defaults, persistence in the settings store, kinds of values and listeners
// (over a store pointed at a test key), then the same through the engine's interface as a
// host sees it (over the real settings key, saved and restored around each test).
#include "engine/RegistryCleanerOptions.h"
#include "services/HostLibraries.h"
#include "tests/support/EngineLibrary.h"
#include "tests/support/TestRegistry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace tidyhive::testing {
namespace {

struct TOptionDefault {
    const wchar_t *name;
    bool value;
};
const std::vector<TOptionDefault> kDefaults = {
    {L"RegistryCleaner.UseIgnoreList", true},
    {L"RegistryCleaner.ScanCDDriveReferences", false},
    {L"RegistryCleaner.ScanRemovableMediaReferences", false},
    {L"RegistryCleaner.ScanUserMenuShortcuts", true},
    {L"RegistryCleaner.ScanCommonMenuShortcuts", true},
    {L"RegistryCleaner.ScanRecentFolderShortcuts", true},
    {L"RegistryCleaner.ScanOfficeRecentFolderShortcuts", true},
    {L"RegistryCleaner.ScanDesktopShortcuts", true},
    {L"RegistryCleaner.ScanCommonDesktopShortcuts", true},
    {L"RegistryCleaner.ScanQuickLaunchShortcuts", true},
};
constexpr wchar_t kCD[] = L"RegistryCleaner.ScanCDDriveReferences";
constexpr wchar_t kDesktop[] = L"RegistryCleaner.ScanDesktopShortcuts";

std::string Narrow(std::wstring_view text)
{
    std::string out;
    for (wchar_t c : text) {
        out += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return out;
}

// "bool true", "i4 5", "bstr False", "null" ...
std::string Show(const VARIANT &value)
{
    const auto number = [&](const char *kind) {
        VARIANT text;
        VariantInit(&text);
        std::string shown = kind;
        if (SUCCEEDED(VariantChangeType(&text, const_cast<VARIANT *>(&value), 0, VT_BSTR))) {
            shown += " " + Narrow(text.bstrVal);
        }
        VariantClear(&text);
        return shown;
    };
    switch (value.vt) {
    case VT_EMPTY:
        return "empty";
    case VT_NULL:
        return "null";
    case VT_BOOL:
        return value.boolVal == VARIANT_TRUE    ? "bool true"
               : value.boolVal == VARIANT_FALSE ? "bool false"
                                                : "bool ?";
    case VT_BSTR:
        return "bstr " + Narrow(value.bstrVal ? value.bstrVal : L"");
    case VT_I1:
        return number("i1");
    case VT_I2:
        return number("i2");
    case VT_I4:
        return number("i4");
    case VT_I8:
        return number("i8");
    case VT_UI1:
        return number("ui1");
    case VT_UI2:
        return number("ui2");
    case VT_UI4:
        return number("ui4");
    case VT_R8:
        return number("r8");
    default:
        return "vt " + std::to_string(value.vt);
    }
}

std::string Get(IRegistryCleanerOptions &options, const wchar_t *name)
{
    VARIANT value;
    options.GetOption(name, &value);
    const std::string shown = Show(value);
    VariantClear(&value);
    return shown;
}

// A registry value as "REG_DWORD 1", "REG_SZ True" or "absent".
std::string StoredValue(HKEY root, const std::wstring &path, const std::wstring &name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return "absent";
    }
    DWORD type = 0;
    BYTE data[512] = {};
    DWORD size = sizeof(data) - sizeof(wchar_t);
    const LONG status = RegQueryValueExW(key, name.c_str(), nullptr, &type, data, &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        return "absent";
    }
    if (type == REG_DWORD) {
        return "REG_DWORD " + std::to_string(*reinterpret_cast<const LONG *>(data));
    }
    if (type == REG_SZ) {
        return "REG_SZ " + Narrow(reinterpret_cast<const wchar_t *>(data));
    }
    return "type " + std::to_string(type);
}

DWORD ValueCount(HKEY root, const std::wstring &path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return 0;
    }
    DWORD count = 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr, nullptr,
                     nullptr, nullptr);
    RegCloseKey(key);
    return count;
}

// A listener that writes "<tag>:<option>" into a shared log and then runs its action.
class TListener : public IFileNameValidator {
public:
    TListener(std::string tag, std::vector<std::string> &log) : tag_(std::move(tag)), log_(log) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override
    {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IFileNameValidator)) {
            *object = this;
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    void STDMETHODCALLTYPE OptionsChanged(LPCWSTR name) override
    {
        log_.push_back(tag_ + ":" + Narrow(name ? name : L"(null)"));
        if (action) {
            action(name);
        }
    }
    std::function<void(LPCWSTR)> action;

private:
    std::string tag_;
    std::vector<std::string> &log_;
};

VARIANT Boolean(bool value)
{
    VARIANT result;
    VariantInit(&result);
    result.vt = VT_BOOL;
    result.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return result;
}

// Options over the process's settings store, pointed at a test key for the test's length.
class OptionsOverTestStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        store_ = GetOptions();
        savedRoot_ = store_->GetRootKey();
        BSTR path = nullptr;
        store_->GetKeyPath(&path);
        savedPath_ = Take(path);
        PointAt(key_);
    }
    void TearDown() override
    {
        if (savedPath_.empty()) {
            store_->Close();
        } else {
            store_->Open(savedRoot_, savedPath_.c_str());
        }
    }
    void PointAt(const TTestKey &key) { store_->Open(key.Root(), key.SubPath().c_str()); }
    std::string Stored(const TTestKey &key, const wchar_t *name) const
    {
        return StoredValue(key.Root(), key.SubPath(), name);
    }

    ISettingsStore *store_ = nullptr;
    HKEY savedRoot_ = HKEY_CURRENT_USER;
    std::wstring savedPath_;
    TTestKey key_{L"Options"};
    std::vector<std::string> log_;
};

TEST_F(OptionsOverTestStoreTest, AnEmptyStoreGivesTheDefaults)
{
    TRegistryCleanerOptions options(store_);
    for (const TOptionDefault &option : kDefaults) {
        const std::string expected = option.value ? "bool true" : "bool false";
        EXPECT_EQ(Get(options, option.name), expected) << Narrow(option.name);
        EXPECT_EQ(options.BooleanOption(option.name), option.value) << Narrow(option.name);
        EXPECT_EQ(store_->ReadBoolean(option.name) != FALSE, option.value)
            << Narrow(option.name) << ": the default is registered with the store";
    }
    EXPECT_EQ(ValueCount(key_.Root(), key_.SubPath()), 0u) << "loading defaults writes nothing";
}

TEST_F(OptionsOverTestStoreTest, StoredValuesLoadAsTheKindOfTheValueHeldAndDifferentOnesAreWrittenBack)
{
    key_.SetDword(L"", kCD, 1);
    key_.SetDword(L"", kDesktop, 0);
    key_.SetString(L"", L"RegistryCleaner.ScanRemovableMediaReferences", L"1");
    key_.SetString(L"", L"RegistryCleaner.ScanUserMenuShortcuts", L"False");
    key_.SetString(L"", L"RegistryCleaner.ScanCommonMenuShortcuts", L"true");
    key_.SetString(L"", L"RegistryCleaner.Unrelated", L"x");
    store_->Reload();

    TRegistryCleanerOptions options(store_);
    struct Case {
        const wchar_t *name;
        std::string held;
        std::string stored; // after loading
    };
    const std::vector<Case> cases = {
        {kCD, "bool true", "REG_DWORD 1"},
        {kDesktop, "bool false", "REG_DWORD 0"},
        // Read as Booleans, then written back as Booleans since they differ from the default.
        {L"RegistryCleaner.ScanRemovableMediaReferences", "bool true", "REG_DWORD 1"},
        {L"RegistryCleaner.ScanUserMenuShortcuts", "bool false", "REG_DWORD 0"},
        // Equal to the default: left as it was stored.
        {L"RegistryCleaner.ScanCommonMenuShortcuts", "bool true", "REG_SZ true"},
        {L"RegistryCleaner.UseIgnoreList", "bool true", "absent"},
        {L"RegistryCleaner.Unrelated", "null", "REG_SZ x"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(Get(options, c.name), c.held) << Narrow(c.name);
        EXPECT_EQ(Stored(key_, c.name), c.stored) << Narrow(c.name);
    }
}

TEST_F(OptionsOverTestStoreTest, SetOptionWritesFlushesAndANewLoadStartsWithIt)
{
    {
        TRegistryCleanerOptions options(store_);
        const VARIANT on = Boolean(true);
        options.SetOption(kCD, &on);
        EXPECT_EQ(Get(options, kCD), "bool true");
        EXPECT_EQ(Stored(key_, kCD), "REG_DWORD 1") << "flushed at once";
    }
    store_->Reload();
    TRegistryCleanerOptions reloaded(store_);
    EXPECT_EQ(Get(reloaded, kCD), "bool true");
    EXPECT_TRUE(reloaded.BooleanOption(kCD));
}

// A value is held with its own variant type, written to the store by its kind, and read
// back at the next load by the kind of the option's default (Boolean).
TEST_F(OptionsOverTestStoreTest, ValuesKeepTheirTypeAndAreStoredByTheirKind)
{
    struct Case {
        const char *what;
        const wchar_t *name;
        std::function<VARIANT()> value;
        std::string held;
        std::string stored;
        bool boolean;
        std::string afterReload;
    };
    VARIANT_BOOL referenced = VARIANT_TRUE;
    const auto make = [](VARTYPE type, auto assign) {
        return [type, assign]() {
            VARIANT value;
            VariantInit(&value);
            value.vt = type;
            assign(value);
            return value;
        };
    };
    const std::vector<Case> cases = {
        {"Boolean", kCD, [] { return Boolean(true); }, "bool true", "REG_DWORD 1", true, "bool true"},
        {"32-bit integer", kCD, make(VT_I4, [](VARIANT &v) { v.lVal = 5; }), "i4 5", "REG_DWORD 5", true,
         "bool true"},
        {"8-bit unsigned zero", kDesktop, make(VT_UI1, [](VARIANT &v) { v.bVal = 0; }), "ui1 0",
         "REG_DWORD 0", false, "bool false"},
        {"16-bit negative", kCD, make(VT_I2, [](VARIANT &v) { v.iVal = -1; }), "i2 -1", "REG_DWORD -1", true,
         "bool true"},
        {"text False", kDesktop, make(VT_BSTR, [](VARIANT &v) { v.bstrVal = SysAllocString(L"False"); }),
         "bstr False", "REG_SZ False", false, "bool false"},
        {"text True", kCD, make(VT_BSTR, [](VARIANT &v) { v.bstrVal = SysAllocString(L"True"); }),
         "bstr True", "REG_SZ True", true, "bool true"},
        {"double: held only", kCD, make(VT_R8, [](VARIANT &v) { v.dblVal = 1.0; }), "r8 1", "absent", true,
         "bool false"},
        {"empty: held only", kDesktop, make(VT_EMPTY, [](VARIANT &) {}), "empty", "absent", false,
         "bool true"},
        {"64-bit beyond 32 bits: held only", kCD, make(VT_I8, [](VARIANT &v) { v.llVal = 0x100000000LL; }),
         "i8 4294967296", "absent", true, "bool false"},
        {"by reference: the value, not the pointer", kCD,
         make(VT_BOOL | VT_BYREF, [&](VARIANT &v) { v.pboolVal = &referenced; }), "bool true", "REG_DWORD 1",
         true, "bool true"},
    };
    for (const Case &c : cases) {
        TTestKey key(L"OptionKinds");
        PointAt(key);
        std::vector<std::string> log;
        TRegistryCleanerOptions options(store_);
        TListener listener("L", log);
        options.AddListener(&listener);
        VARIANT value = c.value();
        options.SetOption(c.name, &value);
        if (!(value.vt & VT_BYREF)) {
            VariantClear(&value);
        }
        EXPECT_EQ(Get(options, c.name), c.held) << c.what;
        EXPECT_EQ(Stored(key, c.name), c.stored) << c.what;
        EXPECT_EQ(options.BooleanOption(c.name), c.boolean) << c.what;
        EXPECT_EQ(log, std::vector<std::string>{"L:" + Narrow(c.name)}) << c.what;
        options.RemoveListener(&listener);
        store_->Reload();
        TRegistryCleanerOptions reloaded(store_);
        EXPECT_EQ(Get(reloaded, c.name), c.afterReload) << c.what << ", at the next load";
    }
}

TEST_F(OptionsOverTestStoreTest, TheSameValueAgainNotifiesNoneWritesNothingButFlushes)
{
    TRegistryCleanerOptions options(store_);
    TListener listener("L", log_);
    options.AddListener(&listener);
    struct Case {
        const char *what;
        const wchar_t *name;
        VARIANT value;
    };
    VARIANT zero;
    VariantInit(&zero);
    zero.vt = VT_I4;
    zero.lVal = 0;
    const std::vector<Case> cases = {
        {"false again", kCD, Boolean(false)},
        {"true again", kDesktop, Boolean(true)},
        {"an integer equal to false", kCD, zero},
    };
    for (const Case &c : cases) {
        const std::wstring probe = L"TidyhiveTest.Unflushed-" + NewGuidText();
        store_->WriteBoolean(probe.c_str(), TRUE);
        ASSERT_EQ(Stored(key_, probe.c_str()), "absent");
        options.SetOption(c.name, &c.value);
        EXPECT_FALSE(store_->ValueExists(c.name)) << c.what << ": nothing written";
        EXPECT_EQ(Stored(key_, probe.c_str()), "REG_DWORD 1") << c.what << ": the store was flushed";
        EXPECT_EQ(Get(options, c.name), Show(Boolean(c.name == kDesktop)))
            << c.what << ": the type held stays";
    }
    EXPECT_TRUE(log_.empty()) << log_.size() << " notifications";
    options.RemoveListener(&listener);
}

TEST_F(OptionsOverTestStoreTest, NamesMatchingNoOptionAnswerNullAndChangeAndFlushNothing)
{
    TRegistryCleanerOptions options(store_);
    TListener listener("L", log_);
    options.AddListener(&listener);
    const std::wstring probe = L"TidyhiveTest.Unflushed-" + NewGuidText();
    store_->WriteBoolean(probe.c_str(), TRUE);
    const VARIANT on = Boolean(true);
    const std::vector<const wchar_t *> names = {L"registrycleaner.useignorelist",
                                                L"RegistryCleaner.UseIgnoreList ", L"RegistryCleaner.", L"",
                                                nullptr};
    for (const wchar_t *name : names) {
        const std::string shown = name ? "\"" + Narrow(name) + "\"" : "null";
        EXPECT_EQ(Get(options, name), "null") << shown;
        options.SetOption(name, &on);
        EXPECT_EQ(Stored(key_, probe.c_str()), "absent") << shown << ": no flush";
    }
    options.SetOption(kCD, nullptr);
    EXPECT_EQ(Stored(key_, probe.c_str()), "absent") << "a missing value sets nothing";
    EXPECT_EQ(Get(options, kCD), "bool false");
    VARIANT unknownType;
    VariantInit(&unknownType);
    unknownType.vt = 256; // not a COM type: nothing a host can hand over safely
    options.SetOption(kCD, &unknownType);
    EXPECT_EQ(Get(options, kCD), "bool false");
    EXPECT_EQ(Stored(key_, probe.c_str()), "absent");
    EXPECT_TRUE(log_.empty());
    options.RemoveListener(&listener);
}

TEST_F(OptionsOverTestStoreTest, ListenersHearEachChangeInOrderAndMayComeAndGoMeanwhile)
{
    TRegistryCleanerOptions options(store_);
    TListener first("1", log_);
    TListener second("2", log_);
    TListener third("3", log_);
    TListener late("4", log_);
    options.AddListener(&first);
    options.AddListener(&second);
    options.AddListener(&third);
    options.AddListener(&first); // once only
    const VARIANT on = Boolean(true);
    const VARIANT off = Boolean(false);

    options.SetOption(kCD, &on);
    EXPECT_EQ(log_, (std::vector<std::string>{"1:RegistryCleaner.ScanCDDriveReferences",
                                              "2:RegistryCleaner.ScanCDDriveReferences",
                                              "3:RegistryCleaner.ScanCDDriveReferences"}));

    // The first leaves and takes the second with it; a listener added meanwhile hears the
    // next change, not this one; a listener reads the new value.
    log_.clear();
    std::string seen;
    first.action = [&](LPCWSTR) {
        options.RemoveListener(&first);
        options.RemoveListener(&second);
        options.AddListener(&late);
    };
    third.action = [&](LPCWSTR name) { seen = Get(options, name); };
    options.SetOption(kDesktop, &off);
    EXPECT_EQ(log_, (std::vector<std::string>{"1:RegistryCleaner.ScanDesktopShortcuts",
                                              "3:RegistryCleaner.ScanDesktopShortcuts"}));
    EXPECT_EQ(seen, "bool false");

    // A listener that fails does not keep the change from the others.
    log_.clear();
    third.action = [](LPCWSTR) { throw std::runtime_error("listener failed"); };
    options.SetOption(kCD, &off);
    EXPECT_EQ(log_, (std::vector<std::string>{"3:RegistryCleaner.ScanCDDriveReferences",
                                              "4:RegistryCleaner.ScanCDDriveReferences"}));
    EXPECT_EQ(Get(options, kCD), "bool false");
    options.RemoveListener(&third);
    options.RemoveListener(&late);
}

// A listener about to be destroyed must not be called after RemoveListener returns, even
// while another thread is notifying it.
TEST_F(OptionsOverTestStoreTest, RemoveListenerWaitsForARunningNotification)
{
    TRegistryCleanerOptions options(store_);
    TListener listener("L", log_);
    HANDLE entered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    listener.action = [&](LPCWSTR) {
        SetEvent(entered);
        WaitForSingleObject(release, 10000);
    };
    options.AddListener(&listener);
    std::thread setter([&] {
        const VARIANT on = Boolean(true);
        options.SetOption(kCD, &on);
    });
    ASSERT_EQ(WaitForSingleObject(entered, 10000), WAIT_OBJECT_0);
    std::atomic<bool> removed{false};
    std::thread remover([&] {
        options.RemoveListener(&listener);
        removed = true;
    });
    Sleep(200);
    EXPECT_FALSE(removed) << "RemoveListener returned while the listener was running";
    SetEvent(release);
    setter.join();
    remover.join();
    EXPECT_TRUE(removed);
    const VARIANT off = Boolean(false);
    options.SetOption(kCD, &off);
    EXPECT_EQ(log_.size(), 1u);
    CloseHandle(entered);
    CloseHandle(release);
}

// Through the engine's interface, as a host uses it, over the real settings key.
class OptionsThroughEngineTest : public ::testing::Test {
protected:
    struct TSavedValue {
        std::wstring name;
        DWORD type;
        std::vector<BYTE> data;
    };

    void SetUp() override
    {
        root_ = std::make_unique<TRootOwner>(library_.CreateRoot());
        options_ = (*root_)->GetOptions();
        ASSERT_NE(options_, nullptr);
        BSTR path = nullptr;
        GetOptions()->GetKeyPath(&path);
        settingsPath_ = Take(path);
        ASSERT_EQ(settingsPath_, L"Software\\Quorvanta\\Tidyhive\\Settings");
        SaveKey();
        for (const TOptionDefault &option : kDefaults) {
            VARIANT value;
            options_->GetOption(option.name, &value);
            savedOptions_.push_back(value);
        }
    }
    void TearDown() override
    {
        for (size_t i = 0; i < savedOptions_.size(); ++i) {
            options_->SetOption(kDefaults[i].name, &savedOptions_[i]);
            VariantClear(&savedOptions_[i]);
        }
        RestoreKey();
        GetOptions()->Reload();
    }

    void SaveKey()
    {
        HKEY key = nullptr;
        keyExisted_ =
            RegOpenKeyExW(HKEY_CURRENT_USER, settingsPath_.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS;
        if (!keyExisted_) {
            return;
        }
        for (DWORD index = 0;; ++index) {
            wchar_t name[16384];
            DWORD nameLength = 16384;
            DWORD type = 0;
            DWORD size = 0;
            if (RegEnumValueW(key, index, name, &nameLength, nullptr, &type, nullptr, &size) !=
                ERROR_SUCCESS) {
                break;
            }
            TSavedValue value{std::wstring(name, nameLength), type, std::vector<BYTE>(size)};
            nameLength = 16384;
            RegEnumValueW(key, index, name, &nameLength, nullptr, &type, value.data.data(), &size);
            value.data.resize(size);
            savedKey_.push_back(std::move(value));
        }
        RegCloseKey(key);
    }
    void RestoreKey()
    {
        if (!keyExisted_) {
            RegDeleteTreeW(HKEY_CURRENT_USER, settingsPath_.c_str());
            RegDeleteKeyW(HKEY_CURRENT_USER, settingsPath_.c_str());
            return;
        }
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, settingsPath_.c_str(), 0, KEY_ALL_ACCESS, &key) !=
            ERROR_SUCCESS) {
            return;
        }
        std::vector<std::wstring> names;
        for (DWORD index = 0;; ++index) {
            wchar_t name[16384];
            DWORD nameLength = 16384;
            if (RegEnumValueW(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS) {
                break;
            }
            names.emplace_back(name, nameLength);
        }
        for (const std::wstring &name : names) {
            RegDeleteValueW(key, name.c_str());
        }
        for (const TSavedValue &value : savedKey_) {
            RegSetValueExW(key, value.name.c_str(), 0, value.type, value.data.data(),
                           static_cast<DWORD>(value.data.size()));
        }
        RegCloseKey(key);
    }
    std::string Stored(const wchar_t *name) const
    {
        return StoredValue(HKEY_CURRENT_USER, settingsPath_, name);
    }

    TEngineLibrary library_;
    std::unique_ptr<TRootOwner> root_;
    IRegistryCleanerOptions *options_ = nullptr;
    std::wstring settingsPath_;
    bool keyExisted_ = false;
    std::vector<TSavedValue> savedKey_;
    std::vector<VARIANT> savedOptions_;
};

TEST_F(OptionsThroughEngineTest, EveryRootSharesTheOptions)
{
    TRootOwner other(library_.CreateRoot());
    EXPECT_EQ(other->GetOptions(), options_);
    void *answered = nullptr;
    EXPECT_EQ(options_->QueryInterface(IID_IRegistryCleanerOptions, &answered), S_OK);
    EXPECT_EQ(answered, static_cast<void *>(options_));
}

TEST_F(OptionsThroughEngineTest, EachOptionIsSetReadBackAndStored)
{
    for (const TOptionDefault &option : kDefaults) {
        VARIANT current;
        options_->GetOption(option.name, &current);
        ASSERT_EQ(current.vt, VT_BOOL) << Narrow(option.name);
        const bool flipped = current.boolVal == VARIANT_FALSE;
        const VARIANT value = Boolean(flipped);
        options_->SetOption(option.name, &value);
        EXPECT_EQ(Get(*options_, option.name), flipped ? "bool true" : "bool false") << Narrow(option.name);
        EXPECT_EQ(Stored(option.name), flipped ? "REG_DWORD 1" : "REG_DWORD 0") << Narrow(option.name);
        GetOptions()->Reload();
        EXPECT_EQ(GetOptions()->ReadBoolean(option.name) != FALSE, flipped)
            << Narrow(option.name) << ": the store holds it after a reload";
    }
    EXPECT_EQ(Get(*options_, L"RegistryCleaner.NoSuchOption"), "null");
}

TEST_F(OptionsThroughEngineTest, ANewLoadOfTheLibraryStartsWithTheStoredValue)
{
    for (bool value : {true, false}) {
        const VARIANT set = Boolean(value);
        options_->SetOption(kCD, &set);
        const TChildResult child = RunChild(L"OptionsProbe.exe", kCD);
        EXPECT_EQ(child.exitCode, 0u) << child.output;
        std::string output = child.output;
        while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) {
            output.pop_back();
        }
        EXPECT_EQ(output, value ? "11 true" : "11 false");
    }
}

} // namespace
} // namespace tidyhive::testing
