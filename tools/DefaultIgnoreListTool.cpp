// Builds the engine's default ignore-list resource from clean/DefaultIgnoreList.txt.
// Runs on the build machine (it is compiled natively), writing the container with the
// same writer the engine reads it with.
//
// Source lines: "category | key | value | reason"; blank lines and lines starting with
// "#" are comments. The value "*" covers the whole key.
#include "clean/EncodedStringList.h"
#include "clean/LibStream.h"
#include "clean/MemoryStream.h"

#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

std::string Trim(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

std::vector<std::string> Split(const std::string& line)
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t bar = line.find(" | ", start);
        fields.push_back(
            Trim(line.substr(start, bar == std::string::npos ? std::string::npos : bar - start)));
        if (bar == std::string::npos) {
            return fields;
        }
        start = bar + 3;
    }
}

const char* const kCategoryNames[] = {
    "rctUndefined",   "rctClasses",     "rctFileAssocs", "rctFonts",    "rctFileExts",     "rctUninstall",
    "rctStartup",     "rctSharedFiles", "rctHelpFiles",  "rctAppPaths", "rctHistoryLists", "rctAppEvents",
    "rctVirtDevices", "rctShortcuts",   "rctSoftware",   "rctFireWall", "rctInternet"};

bool KnownCategory(const std::string& name)
{
    for (const char* known : kCategoryNames) {
        if (name == known) {
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: DefaultIgnoreListTool SOURCE OUTPUT\n");
        return 2;
    }
    std::ifstream source(argv[1]);
    if (!source) {
        std::fprintf(stderr, "DefaultIgnoreListTool: cannot read %s\n", argv[1]);
        return 1;
    }
    std::map<std::string, tidyhive::TEncodedStringList> lists;
    std::string line;
    int number = 0;
    while (std::getline(source, line)) {
        ++number;
        const std::string trimmed = Trim(line);
        if (trimmed.empty() || trimmed[0] == '#') {
            continue;
        }
        const std::vector<std::string> fields = Split(trimmed);
        if (fields.size() != 4 || !KnownCategory(fields[0]) || fields[1].empty() || fields[2].empty() ||
            fields[3].empty()) {
            std::fprintf(stderr, "%s:%d: expected 'category | key | value | reason'\n", argv[1], number);
            return 1;
        }
        const auto key = tidyhive::WideFromUtf8(fields[1]);
        const auto value = tidyhive::WideFromUtf8(fields[2]);
        if (!key || !value) {
            std::fprintf(stderr, "%s:%d: not UTF-8\n", argv[1], number);
            return 1;
        }
        lists[fields[0]].Add(L"<type>TIgnoreItem</type><key>" + *key + L"</key><value>" + *value +
                             L"</value><display></display><regex></regex>");
    }
    tidyhive::TLibStream container;
    for (auto& [name, list] : lists) {
        tidyhive::TMemoryStream data;
        list.SaveToStream(data);
        container.WriteEntry(name, &data);
    }
    container.SaveToFile(argv[2]);
    return 0;
}
