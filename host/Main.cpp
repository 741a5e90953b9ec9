// tidyhive.exe: the console host. It uses only the public headers, the engine's export and,
// for backup sessions, Backvault.dll's own "GetInstance".
#include "host/Console.h"
#include "host/CategoryNames.h"
#include "host/CleanCommand.h"
#include "host/Engine.h"
#include "host/IgnoreCommand.h"
#include "host/OptionsCommand.h"
#include "host/ScanCommand.h"
#include "host/SessionCommands.h"

#include <windows.h>
#include <shellapi.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

using namespace tidyhive;
using namespace tidyhive::host;

namespace {

using Args = std::vector<std::wstring>;

constexpr wchar_t kUsage[] =
    L"Usage: tidyhive COMMAND [ARGUMENTS]\n"
    L"\n"
    L"Commands:\n"
    L"  categories   List the sixteen categories: type value, type name, 'default' or\n"
    L"               'extra' (extra categories are left out of a default scan), and name.\n"
    L"  scan [--all] [--category NAME]... [--json]\n"
    L"               Scan the default categories (--all: all sixteen; --category: the\n"
    L"               named ones, by type name such as rctFileExts). Shows progress on a\n"
    L"               terminal; Ctrl+C stops the scan cleanly. Ends with a summary per\n"
    L"               category; --json prints one JSON object a line for every problem,\n"
    L"               then a {\"summary\": ...} line. Exits 0 when the scan ran.\n"
    L"  clean [--all] [--category NAME]... [--yes] [--dry-run] [--json]\n"
    L"               Scan as 'scan' does, list what will be fixed, ask for confirmation\n"
    L"               (--yes: don't ask), then fix it inside one backup session and print\n"
    L"               each problem's outcome (Fixed, Failed to fix, Skipped, Moved to ignore\n"
    L"               list, or Not processed after Ctrl+C), the session's identifier and how\n"
    L"               to undo it. --json prints a line for every problem as 'scan' does, with\n"
    L"               \"outcome\": \"fixed\", \"failed\", \"skipped\", \"ignored\", \"unprocessed\"\n"
    L"               or \"unknown\", then a {\"summary\": ...} line (--yes: no list before).\n"
    L"               --dry-run lists what would be fixed and changes nothing.\n"
    L"  options      List the ten scan options with their values.\n"
    L"  options set NAME true|false\n"
    L"               Change one option (it is kept for later runs).\n"
    L"  ignore list  List the user's ignore lists: category, index, key, value.\n"
    L"  ignore add CATEGORY KEY [VALUE]\n"
    L"               Ignore a value of a key (no VALUE, or \"*\": the key and everything\n"
    L"               below it) in that category's scans.\n"
    L"  ignore remove CATEGORY INDEX\n"
    L"               Remove an item (its index as 'ignore list' shows it).\n"
    L"  sessions     List the backup sessions, newest first: identifier, start and end time,\n"
    L"               number of changes, state ('complete', 'incomplete' after a crash, or\n"
    L"               'damaged') and title.\n"
    L"  restore ID [--overwrite]\n"
    L"               Undo backup session ID and say what was restored. A value changed again\n"
    L"               since the session is a conflict and stays as it is unless --overwrite is\n"
    L"               given. Exit code 3 when conflicts were left, 1 when something failed.\n"
    L"  export ID FILE\n"
    L"               Write a regedit file that re-creates what session ID removed.\n"
    L"  --help       Show this help.\n";

int ListCategories(const Args& args)
{
    if (!args.empty()) {
        ErrLine(L"tidyhive categories: unexpected argument '" + args.front() + L"'");
        return 2;
    }
    TEngine engine;
    if (!engine.Open()) {
        ErrLine(L"tidyhive: " + engine.error());
        return 1;
    }
    ICategoryCollection* categories = engine->GetCategories();
    categories->Clear();
    categories->AddAllCategories();
    for (int type = rctClasses; type <= rctInternet; ++type) {
        ICategoryScanner* scanner = categories->GetItemByType(static_cast<TCategoryType>(type));
        if (!scanner) {
            continue;
        }
        OutLine(std::to_wstring(type) + L"\t" + CategoryTypeName(static_cast<TCategoryType>(type)) + L"\t" +
                (scanner->GetCategoryFlag() ? L"extra" : L"default") + L"\t" + TakeText(scanner->GetName()));
    }
    categories->Clear();
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    Args args(argv + 1, argv + argc);
    // The engine reads "-debug" as the first parameter itself; the host just skips it.
    if (!args.empty() && lstrcmpiW(args.front().c_str(), L"-debug") == 0) {
        args.erase(args.begin());
    }
    if (args.empty() || args.front() == L"--help" || args.front() == L"-h" || args.front() == L"help") {
        Out(kUsage);
        return args.empty() ? 2 : 0;
    }
    const std::map<std::wstring, std::function<int(const Args&)>> commands = {
        {L"categories", ListCategories},     {L"scan", ScanCommand},
        {L"ignore", IgnoreCommand},          {L"clean", CleanCommand},
        {L"options", OptionsCommand},        {L"sessions", ListSessionsCommand},
        {L"restore", RestoreSessionCommand}, {L"export", ExportSessionCommand},
    };
    const auto command = commands.find(args.front());
    if (command == commands.end()) {
        ErrLine(L"tidyhive: unknown command '" + args.front() +
                L"'. Run 'tidyhive --help' for the commands.");
        return 2;
    }
    return command->second(Args(args.begin() + 1, args.end()));
}
