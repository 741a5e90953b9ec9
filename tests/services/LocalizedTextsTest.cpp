// Localized texts: every key has its English default, in registration order, and a language
// chosen through the localiser reaches every reader of the texts without re-registering.
#include "services/DebugLog.h"
#include "services/LocalizedTexts.h"
#include "services/Text.h"
#include "tests/support/TestRegistry.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <set>
#include <string>

namespace tidyhive {
namespace {

using testing::ReadWholeFile;

constexpr int kTextCount = static_cast<int>(TextKey::Count);

std::string KeyName(int index)
{
    return WideToUtf8(TextKeyName(static_cast<TextKey>(index)));
}


size_t CountLines(const std::string &content)
{
    size_t count = 0;
    for (size_t at = content.find("\r\n"); at != std::string::npos; at = content.find("\r\n", at + 2)) {
        ++count;
    }
    return count;
}

TEST(LocalizedTextsTest, EveryKeyHasAnEnglishDefaultInRegistrationOrder)
{
    ASSERT_EQ(kTextCount, 183);
    std::set<std::wstring> names;
    for (int i = 0; i < kTextCount; ++i) {
        const TextKey key = static_cast<TextKey>(i);
        EXPECT_NE(std::wstring(DefaultText(key)), L"") << KeyName(i) << " has no default";
        EXPECT_TRUE(names.insert(TextKeyName(key)).second) << KeyName(i) << " appears twice";
    }
    // The families in their order: 3 scan states, 94 algorithm texts, 80 category texts,
    // 4 clean outcomes, the session title and the ignore-list message.
    struct Boundary {
        int index;
        const wchar_t *name;
    };
    const Boundary boundaries[] = {
        {0, L"SCANMANAGER_STATE_PREPEARING"}, {2, L"SCANMANAGER_STATE_FINISHED"},
        {3, L"VA_APPPATH_DESCRIPTION"},       {96, L"VA_MENUITEM_DESCRIPTION_COMPLETE"},
        {97, L"CS_COMMON_NOKEYSYET"},         {176, L"CS_INTERNET_VALUEDESC_TOOLBAR_USER"},
        {177, L"CC_KEY_STATUS_FIXED"},        {180, L"CC_KEY_STATUS_IGNORED"},
        {181, L"BACKVAULT_SESSION_TITLE"},    {182, L"IGNORE_LIST_INVALID"},
    };
    for (const Boundary &boundary : boundaries) {
        EXPECT_EQ(std::wstring(TextKeyName(static_cast<TextKey>(boundary.index))), boundary.name)
            << "at index " << boundary.index;
    }

    struct Telling {
        TextKey key;
        const wchar_t *text;
    };
    const Telling telling[] = {
        {TextKey::SCANMANAGER_STATE_PREPEARING, L"Prepearing..."},
        {TextKey::CC_KEY_STATUS_FAILTOFIX, L"Failed to fix!"},
        {TextKey::CS_COMMON_NOKEYSYET, L"Determinating category keys..."},
        {TextKey::BACKVAULT_SESSION_TITLE, L"Registry Cleaner: Removed %u records from the registry"},
        {TextKey::VA_FILEEXT_DESCRIPTION_SHORT_APP, L"Invalid Application reference: "},
        {TextKey::VA_APPPATH_DESCRIPTION_APP, L"Invalid application \"%s\"."},
        {TextKey::CS_SHAREDMOD_NAME, L"Shared Dll's"},
    };
    for (const Telling &t : telling) {
        EXPECT_EQ(std::wstring(DefaultText(t.key)), t.text) << KeyName(static_cast<int>(t.key));
    }
}

class LocalizedTextsEngineTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        SetTextLanguage(L"ENU");
        DebugLog::ResetForTesting();
        DebugLog::Configure(false);
    }
    testing::TTestFolder folder_;
};

TEST_F(LocalizedTextsEngineTest, WithoutLanguageFilesEveryTextIsItsDefault)
{
    InitializeLocalizedTexts();
    for (const wchar_t *language : {L"ENU", L"ENG", L""}) {
        SetTextLanguage(language);
        EXPECT_EQ(LoadText(TextKey::SCANMANAGER_STATE_PREPEARING), L"Prepearing...") << WideToUtf8(language);
        EXPECT_EQ(LoadText(TextKey::CC_KEY_STATUS_FAILTOFIX), L"Failed to fix!") << WideToUtf8(language);
        for (int i = 0; i < kTextCount; ++i) {
            const TextKey key = static_cast<TextKey>(i);
            EXPECT_EQ(LoadText(key), DefaultText(key))
                << KeyName(i) << " in language " << WideToUtf8(language);
        }
    }
}

TEST_F(LocalizedTextsEngineTest, TranslationReachesReadersWithoutReRegistering)
{
    InitializeLocalizedTexts();
    SetTextLanguage(L"DEU");
    EXPECT_EQ(LoadText(TextKey::CC_KEY_STATUS_FAILTOFIX), L"Beheben fehlgeschlagen!");
    EXPECT_EQ(LoadText(TextKey::SCANMANAGER_STATE_PREPEARING), L"Vorbereitung...");
    EXPECT_EQ(LoadText(TextKey::CC_KEY_STATUS_SKIPPED), L"\u00dcbersprungen");
    EXPECT_EQ(LoadText(TextKey::VA_FILEEXT_DESCRIPTION_SHORT_APP),
              L"Ung\u00fcltiger Verweis auf eine Anwendung: ");
    EXPECT_EQ(LoadText(TextKey::IGNORE_LIST_INVALID),
              L"Die Ausnahmeliste des Registry Cleaners ist besch\u00e4digt oder passt nicht zu dieser "
              L"Version.\nSie wird gel\u00f6scht.");
    // Keys the sample leaves out stay English.
    EXPECT_EQ(LoadText(TextKey::CS_CLASSES_NAME), L"Classes & ActiveX Objects");
    EXPECT_EQ(std::wstring(DefaultText(TextKey::CC_KEY_STATUS_FAILTOFIX)), L"Failed to fix!");

    SetTextLanguage(L"ENU");
    EXPECT_EQ(LoadText(TextKey::CC_KEY_STATUS_FAILTOFIX), L"Failed to fix!");
    EXPECT_EQ(LoadText(TextKey::SCANMANAGER_STATE_PREPEARING), L"Prepearing...");
}

TEST_F(LocalizedTextsEngineTest, MissingLanguageFileKeepsEnglishAndLogsOneLine)
{
    InitializeLocalizedTexts();
    SetTextLanguage(L"DEU");
    const std::wstring log = folder_.Path() + L"debug.log";
    DebugLog::Configure(true, log);
    SetTextLanguage(L"XYZ");
    for (int i = 0; i < kTextCount; ++i) {
        const TextKey key = static_cast<TextKey>(i);
        EXPECT_EQ(LoadText(key), DefaultText(key)) << KeyName(i);
    }
    const std::string content = ReadWholeFile(log);
    EXPECT_EQ(CountLines(content), 1u) << content;
    EXPECT_NE(content.find("XYZ.lng"), std::string::npos) << content;
    EXPECT_NE(content.find("not found"), std::string::npos) << content;
}

} // namespace
} // namespace tidyhive
