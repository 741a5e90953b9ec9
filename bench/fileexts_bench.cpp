// Plants many file-extension records under HKEY_CURRENT_USER\...\Explorer\FileExts (a mix
// of live and dead references, in both registry views), then times the engine's scan of the
// file-extensions category beside a bare walk that opens and enumerates exactly the same
// keys and values with the plain registry functions. Run it in a scratch prefix
// (bench/run-fileexts-bench does): it adds and removes its own keys only, but many of them.
#include "engine/CategoryScannersFactory.h"
#include "scan/DetectedProblemKeys.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kFileExts[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts";
constexpr REGSAM kViews[] = {KEY_WOW64_32KEY, KEY_WOW64_64KEY};
// Live references a fresh prefix really has: an App Paths entry and a class.
constexpr wchar_t kLiveApplication[] = L"iexplore.exe";
constexpr wchar_t kLiveProgId[] = L"htmlfile";

void SetString(HKEY key, const wchar_t* name, const std::wstring& value)
{
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

HKEY Create(const std::wstring& path, REGSAM view)
{
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key,
                    nullptr);
    return key;
}

void Plant(int extensions)
{
    for (REGSAM view : kViews) {
        for (int i = 0; i < extensions; ++i) {
            const std::wstring ext = std::wstring(kFileExts) + L"\\.bx" + std::to_wstring(i);
            HKEY list = Create(ext + L"\\OpenWithList", view);
            SetString(list, L"a", kLiveApplication);
            SetString(list, L"b", (i % 3 == 0) ? L"gone-" + std::to_wstring(i) + L".exe" : kLiveApplication);
            SetString(list, L"MRUList", L"ab");
            RegCloseKey(list);
            HKEY progids = Create(ext + L"\\OpenWithProgids", view);
            SetString(progids, (i % 4 == 0) ? L"NoSuch.Prog" : kLiveProgId, L"");
            RegCloseKey(progids);
        }
    }
}

void Remove(int extensions)
{
    for (REGSAM view : kViews) {
        HKEY root = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kFileExts, 0, KEY_ALL_ACCESS | view, &root) != ERROR_SUCCESS) {
            continue;
        }
        for (int i = 0; i < extensions; ++i) {
            RegDeleteTreeW(root, (L".bx" + std::to_wstring(i)).c_str());
        }
        RegCloseKey(root);
    }
}

// Opens every key below path, lists its subkeys and reads every value, as a scan must.
void Walk(HKEY parent, const std::wstring& path, REGSAM view, long& keys, long& values)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) {
        return;
    }
    ++keys;
    std::vector<std::wstring> names;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        names.emplace_back(name, length);
    }
    for (const std::wstring& child : names) {
        Walk(key, child, view, keys, values);
    }
    BYTE data[2048];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        DWORD size = sizeof(data);
        DWORD type = 0;
        if (RegEnumValueW(key, i, name, &length, nullptr, &type, data, &size) != ERROR_SUCCESS) {
            break;
        }
        ++values;
    }
    RegCloseKey(key);
}

double Seconds(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv)
{
    const int extensions = argc > 1 ? std::atoi(argv[1]) : 10000;
    std::printf("planting %d extension records in each view...\n", extensions);
    Plant(extensions);

    auto start = std::chrono::steady_clock::now();
    long keys = 0, values = 0;
    for (REGSAM view : kViews) {
        Walk(HKEY_CURRENT_USER, kFileExts, view, keys, values);
    }
    const double bare = Seconds(start);

    auto scanner = tidyhive::TCategoryScannersFactory::Instance().CreateScanner(tidyhive::rctFileExts);
    start = std::chrono::steady_clock::now();
    const int counted = scanner->GetTotalValuesCount();
    const double counting = Seconds(start);
    scanner->Scan();
    const double scan = Seconds(start);

    std::printf("bare walk:   %.3f s (%ld keys, %ld values, both views)\n", bare, keys, values);
    std::printf(
        "engine scan: %.3f s (counting pass %.3f s, validating pass %.3f s; %d values counted, %d keys "
        "scanned, %ld problems)\n",
        scan, counting, scan - counting, counted, scanner->KeysScanned(),
        static_cast<long>(scanner->Problems().Count()));
    std::printf("ratio scan/bare walk: %.2f (target: at most 1.5)\n", bare > 0 ? scan / bare : 0.0);
    Remove(extensions);
    return 0;
}
