// How many registry key names per second the regular-expression facade judges with a
// typical key-pattern expression, beside a plain case-insensitive comparison of the same
// names. One run prints every rate and the ratios.
#include "services/PerlRegEx.h"
#include "services/Text.h"

#include <windows.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

using namespace tidyhive;

namespace {

// Names as a walk of HKEY_CLASSES_ROOT meets them: class identifiers, extensions, ProgIDs
// and verbs, in mixed case.
std::vector<std::wstring> KeyNames(size_t count)
{
    std::mt19937 random(20240601);
    const wchar_t *hex = L"0123456789ABCDEFabcdef";
    const wchar_t *words[] = {L"InprocServer32", L"shell",        L"Word.Document.8", L"DefaultIcon",
                              L"ShellEx",        L"OpenWithList", L"CLSID",           L"Microsoft.XMLHTTP"};
    const wchar_t *extensions[] = {L".txt", L".DOCX", L".mp3", L".7z", L".html", L".Jpeg"};
    std::vector<std::wstring> names;
    names.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        switch (i % 4) {
        case 0:
        case 1: {
            std::wstring guid = L"{";
            for (int group : {8, 4, 4, 4, 12}) {
                for (int j = 0; j < group; ++j) {
                    guid.push_back(hex[random() % 22]);
                }
                guid.push_back(L'-');
            }
            guid.back() = L'}';
            names.push_back(guid);
            break;
        }
        case 2:
            names.push_back(extensions[random() % 6]);
            break;
        default:
            names.push_back(words[random() % 8]);
            break;
        }
    }
    return names;
}

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Runs judge over all names, round after round, for at least minimum seconds; returns
// names per second and the number of names judged true in one round.
template <class Judge>
double Rate(const std::vector<std::wstring> &names, Judge &&judge, size_t &hits, double minimum = 1.0)
{
    size_t judged = 0;
    LARGE_INTEGER start;
    LARGE_INTEGER now;
    QueryPerformanceCounter(&start);
    do {
        hits = 0;
        for (const std::wstring &name : names) {
            hits += judge(name) ? 1 : 0;
        }
        judged += names.size();
        QueryPerformanceCounter(&now);
    } while (Seconds(start, now) < minimum);
    return static_cast<double>(judged) / Seconds(start, now);
}

struct Expression {
    const wchar_t *label;
    const wchar_t *regEx;
    const wchar_t *plainName; // the name a plain comparison looks for instead
};

} // namespace

int main()
{
    const std::vector<std::wstring> names = KeyNames(20000);
    const Expression expressions[] = {
        {L"class identifier", LR"(^\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\}$)",
         L"{00000000-0000-0000-C000-000000000046}"},
        {L"extension", LR"(^\.[a-z0-9]+$)", L".txt"},
    };
    std::printf("%zu key names (half class identifiers, a quarter extensions, a quarter words); "
                "case-insensitive, \".\" matching line breaks, as the engine sets every expression\n\n",
                names.size());
    std::printf("%-18s %16s %16s %16s %10s %10s\n", "expression", "regex names/s", "JIT names/s",
                "plain names/s", "plain/regex", "plain/JIT");
    for (const Expression &expression : expressions) {
        size_t hits = 0;
        size_t jitHits = 0;
        size_t plainHits = 0;

        TPerlRegEx interpreted(kEngineRegExOptions, expression.regEx);
        const double regexRate = Rate(
            names,
            [&](const std::wstring &name) {
                interpreted.SetSubject(name);
                return interpreted.Match();
            },
            hits);

        TPerlRegEx studied(kEngineRegExOptions, expression.regEx);
        studied.Study();
        const double jitRate = Rate(
            names,
            [&](const std::wstring &name) {
                studied.SetSubject(name);
                return studied.Match();
            },
            jitHits);

        const std::wstring plain = expression.plainName;
        const double plainRate = Rate(
            names, [&](const std::wstring &name) { return SameText(name, plain); }, plainHits);

        std::printf("%-18ls %16.0f %16.0f %16.0f %10.2f %10.2f\n", expression.label, regexRate, jitRate,
                    plainRate, plainRate / regexRate, plainRate / jitRate);
        std::printf("%-18s matches per round: regex %zu, JIT %zu, plain %zu\n", "", hits, jitHits, plainHits);
    }
    return 0;
}
