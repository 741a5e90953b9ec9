#include "host/IgnoreCommand.h"

#include "host/CategoryNames.h"
#include "host/Console.h"
#include "host/Engine.h"

namespace tidyhive::host {
namespace {

constexpr wchar_t kUsage[] =
    L"usage: tidyhive ignore list | ignore add CATEGORY KEY [VALUE] | ignore remove CATEGORY INDEX";

int ListItems(IRegistryCleanerManager* root)
{
    int total = 0;
    for (int type = rctUndefined; type <= rctInternet; ++type) {
        IIgnoreList* list = root->GetIgnoreList(static_cast<TCategoryType>(type));
        for (LONG i = 0; list && i < list->GetCount(); ++i) {
            IIgnoreItem* item = list->GetItem(i);
            OutLine(std::wstring(CategoryTypeName(static_cast<TCategoryType>(type))) + L"\t" +
                    std::to_wstring(i) + L"\t" + TakeText(item->GetKey()) + L"\t" +
                    TakeText(item->GetValue()));
            ++total;
        }
    }
    if (total == 0) {
        OutLine(L"The ignore lists are empty.");
    }
    return 0;
}

bool ParseIndex(const std::wstring& text, LONG& index)
{
    if (text.empty() || text.find_first_not_of(L"0123456789") != std::wstring::npos || text.size() > 9) {
        return false;
    }
    index = std::stol(text);
    return true;
}

}  // namespace

int IgnoreCommand(const std::vector<std::wstring>& args)
{
    if (args.empty()) {
        ErrLine(kUsage);
        return 2;
    }
    const std::wstring& action = args[0];
    const bool list = action == L"list" && args.size() == 1;
    const bool add = action == L"add" && (args.size() == 3 || args.size() == 4);
    const bool remove = action == L"remove" && args.size() == 3;
    if (!list && !add && !remove) {
        ErrLine(kUsage);
        return 2;
    }
    std::optional<TCategoryType> type;
    if (!list) {
        type = CategoryTypeFromName(args[1]);
        if (!type) {
            ErrLine(L"tidyhive ignore: unknown category '" + args[1] + L"' (see 'tidyhive categories')");
            return 2;
        }
    }
    TEngine engine;
    if (!engine.Open()) {
        ErrLine(L"tidyhive: " + engine.error());
        return 1;
    }
    if (list) {
        return ListItems(engine.get());
    }
    IIgnoreList* items = engine->GetIgnoreList(*type);
    if (add) {
        const std::wstring value = args.size() == 4 ? args[3] : L"*";
        const LONG index = items->Add(args[2].c_str(), value.c_str());
        if (index < 0) {
            ErrLine(L"tidyhive ignore: the item was refused (a key or value may not hold a line break or the "
                    L"list's markup); nothing was changed");
            return 1;
        }
        engine->SaveIgnoreLists();
        OutLine(L"Added to " + std::wstring(CategoryTypeName(*type)) + L" as item " + std::to_wstring(index) +
                L".");
        return 0;
    }
    LONG index = 0;
    if (!ParseIndex(args[2], index) || index >= items->GetCount()) {
        ErrLine(L"tidyhive ignore: " + std::wstring(CategoryTypeName(*type)) + L" has no item '" + args[2] +
                L"' (see 'tidyhive ignore list'); nothing was changed");
        return 1;
    }
    items->DeleteItem(index);
    engine->SaveIgnoreLists();
    OutLine(L"Removed item " + std::to_wstring(index) + L" from " + std::wstring(CategoryTypeName(*type)) +
            L".");
    return 0;
}

}  // namespace tidyhive::host
