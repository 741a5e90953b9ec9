// Loads Tidyhive.dll as a host does and prints one option's value as "<variant type> <text>"
// ("11 true" for true), so a test can see what a fresh load of the library starts with.
#include "tidyhive/Tidyhive.h"

#include <cstdio>
#include <string>

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: OptionsProbe OPTION\n");
        return 2;
    }
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    folder.resize(folder.find_last_of(L'\\') + 1);
    HMODULE engine = LoadLibraryW((folder + L"Tidyhive.dll").c_str());
    auto create = engine ? reinterpret_cast<tidyhive::GetRegistryCleanerManagerFn>(
                               GetProcAddress(engine, tidyhive::kGetRegistryCleanerManagerExport))
                         : nullptr;
    tidyhive::IRegistryCleanerManager *root = nullptr;
    if (!create || FAILED(create(&root)) || !root || !root->GetOptions()) {
        std::fprintf(stderr, "no engine\n");
        return 3;
    }
    VARIANT value;
    const std::string name(argv[1]);
    root->GetOptions()->GetOption(std::wstring(name.begin(), name.end()).c_str(), &value);
    if (value.vt == VT_BOOL) {
        std::printf("%d %s\n", static_cast<int>(value.vt), value.boolVal != VARIANT_FALSE ? "true" : "false");
    } else {
        VARIANT text;
        VariantInit(&text);
        const bool shown = SUCCEEDED(VariantChangeType(&text, &value, 0, VT_BSTR));
        std::printf("%d %ls\n", static_cast<int>(value.vt), shown ? text.bstrVal : L"?");
        VariantClear(&text);
    }
    VariantClear(&value);
    root->Free();
    return 0;
}
