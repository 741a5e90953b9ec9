// The export, the root and the category collection, driven exactly as a host drives them.
#include "engine/CategoryType.h"
#include "tests/support/EngineLibrary.h"

#include <gtest/gtest.h>

#include <vector>

namespace tidyhive {
namespace {

using testing::TEngineLibrary;
using testing::TRootOwner;

class EngineEntryTest : public ::testing::Test {
protected:
    TEngineLibrary library;
};

std::vector<TCategoryType> TypesOf(ICategoryCollection* collection)
{
    std::vector<TCategoryType> types;
    for (LONG i = 0; i < collection->GetCount(); ++i) {
        types.push_back(collection->GetItem(i)->GetCategoryType());
    }
    return types;
}

TEST_F(EngineEntryTest, ExportRejectsNullOutParameter)
{
    HMODULE module = GetModuleHandleW(L"Tidyhive.dll");
    auto create =
        reinterpret_cast<GetRegistryCleanerManagerFn>(GetProcAddress(module, kGetRegistryCleanerManagerExport));
    EXPECT_EQ(create(nullptr), E_POINTER);
}

TEST_F(EngineEntryTest, TwoRootsShareProcessWideObjectsButNotCollections)
{
    TRootOwner first(library.CreateRoot());
    TRootOwner second(library.CreateRoot());
    EXPECT_NE(first.get(), second.get());
    EXPECT_NE(first->GetCategories(), second->GetCategories());
    EXPECT_EQ(first->GetEventManager(), second->GetEventManager());
    EXPECT_EQ(first->GetOptions(), second->GetOptions());
    EXPECT_EQ(first->GetLogManager(), second->GetLogManager());

    first->GetCategories()->AddCategory(rctFonts);
    EXPECT_EQ(first->GetCategories()->GetCount(), 1);
    EXPECT_EQ(second->GetCategories()->GetCount(), 0);
}

TEST_F(EngineEntryTest, QueryInterfaceAnswersOnlyImplementedInterfacesAndCountingIsInert)
{
    TRootOwner root(library.CreateRoot());
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(root->QueryInterface(IID_IRegistryCleanerManager, &object), S_OK);
    EXPECT_EQ(object, root.get());
    EXPECT_EQ(root->QueryInterface(IID_IUnknown, &object), S_OK);
    EXPECT_NE(object, nullptr);
    EXPECT_EQ(root->QueryInterface(IID_ICategoryCollection, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr) << "a refused QueryInterface clears the out-parameter";

    ICategoryCollection* categories = root->GetCategories();
    EXPECT_EQ(categories->QueryInterface(IID_ICategoryCollection, &object), S_OK);
    EXPECT_EQ(object, categories);

    // Releasing every interface destroys nothing; only Free does.
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(root->Release(), 1u);
        EXPECT_EQ(categories->Release(), 1u);
        EXPECT_EQ(root->AddRef(), 1u);
    }
    EXPECT_EQ(categories->GetCount(), 0);
    EXPECT_NE(root->GetCategories(), nullptr);
}

TEST_F(EngineEntryTest, DefaultCategoriesComeInTypeOrderAndAllAppendsTheFlaggedOnes)
{
    TRootOwner root(library.CreateRoot());
    ICategoryCollection* categories = root->GetCategories();
    categories->AddDefaultCategories();
    const std::vector<TCategoryType> defaults = {rctFileAssocs, rctFonts,        rctFileExts,  rctUninstall,
                                                 rctStartup,    rctHelpFiles,    rctAppPaths,  rctHistoryLists,
                                                 rctAppEvents,  rctShortcuts,    rctFireWall,  rctInternet};
    EXPECT_EQ(TypesOf(categories), defaults);

    categories->AddAllCategories();
    std::vector<TCategoryType> all = defaults;
    all.insert(all.end(), {rctClasses, rctSharedFiles, rctVirtDevices, rctSoftware});
    EXPECT_EQ(TypesOf(categories), all);

    // Adding all again changes nothing.
    categories->AddAllCategories();
    EXPECT_EQ(TypesOf(categories), all);
}

TEST_F(EngineEntryTest, RefusedAdditionsAndOutOfRangeItemsAnswerEmpty)
{
    TRootOwner root(library.CreateRoot());
    ICategoryCollection* categories = root->GetCategories();
    ASSERT_NE(categories->AddCategory(rctStartup), nullptr);

    struct Case {
        TCategoryType type;
        const char* why;
    };
    for (const Case& c : {Case{rctUndefined, "rctUndefined has no scanner"}, Case{rctStartup, "already present"},
                          Case{17, "above rctInternet"}, Case{255, "far above rctInternet"}}) {
        EXPECT_EQ(categories->AddCategory(c.type), nullptr) << c.why;
        EXPECT_EQ(categories->GetCount(), 1) << c.why;
    }
    EXPECT_EQ(categories->GetItem(-1), nullptr);
    EXPECT_EQ(categories->GetItem(1), nullptr) << "GetItem(Count)";
    EXPECT_EQ(categories->GetItemByType(rctFonts), nullptr);
    EXPECT_EQ(categories->IndexOfCategory(rctFonts), -1);
    EXPECT_EQ(categories->IndexOfCategory(rctStartup), 0);

    categories->RemoveCategory(rctFonts);  // absent: nothing happens
    EXPECT_EQ(categories->GetCount(), 1);
    categories->RemoveCategory(rctStartup);
    EXPECT_EQ(categories->GetCount(), 0);
}

TEST_F(EngineEntryTest, ScannerAnswersItsTypeNameAndFlag)
{
    TRootOwner root(library.CreateRoot());
    ICategoryCollection* categories = root->GetCategories();
    struct Case {
        TCategoryType type;
        const wchar_t* name;
        BOOL flag;
    };
    for (const Case& c : {Case{rctClasses, L"Classes & ActiveX Objects", TRUE},
                          Case{rctFileExts, L"File Extentions", FALSE}, Case{rctSharedFiles, L"Shared Dll's", TRUE},
                          Case{rctFireWall, L"Firewall", FALSE}}) {
        ICategoryScanner* scanner = categories->AddCategory(c.type);
        ASSERT_NE(scanner, nullptr) << int(c.type);
        EXPECT_EQ(scanner->GetCategoryType(), c.type);
        EXPECT_EQ(testing::Take(scanner->GetName()), c.name) << int(c.type);
        EXPECT_EQ(scanner->GetCategoryFlag(), c.flag) << int(c.type);
    }
}

TEST(CategoryTypeNames, AreThePersistentKeys)
{
    EXPECT_EQ(CategoryTypeToName(rctFireWall), L"rctFireWall");
    EXPECT_EQ(CategoryTypeToName(rctUndefined), L"rctUndefined");
    EXPECT_EQ(CategoryTypeToName(rctInternet), L"rctInternet");
    EXPECT_EQ(CategoryTypeToName(17), L"");
    EXPECT_EQ(CategoryTypeToName(255), L"");
}

TEST_F(EngineEntryTest, DetectedKeysOfAnAbsentCategoryAreEmpty)
{
    TRootOwner root(library.CreateRoot());
    EXPECT_EQ(root->GetDetectedKeys(rctFonts), nullptr);
    EXPECT_EQ(root->GetDetectedKeys(200), nullptr);
    EXPECT_EQ(root->GetRunningTask(), rtNone);
}

}  // namespace
}  // namespace tidyhive
