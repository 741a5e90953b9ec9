#include "services/DateTimeText.h"

namespace tidyhive {
namespace {

template <class Format> std::wstring LocaleText(Format format)
{
    const int size = format(nullptr, 0);
    if (size <= 0) {
        return {};
    }
    std::wstring text(static_cast<size_t>(size), L'\0');
    const int written = format(text.data(), size);
    text.resize(written > 0 ? static_cast<size_t>(written - 1) : 0);
    return text;
}

} // namespace

std::wstring DateTimeText(const SYSTEMTIME &time)
{
    const std::wstring date = LocaleText([&](wchar_t *buffer, int size) {
        return GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &time, nullptr, buffer, size);
    });
    const std::wstring clock = LocaleText([&](wchar_t *buffer, int size) {
        return GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &time, nullptr, buffer, size);
    });
    return date + L" " + clock;
}

std::wstring NowText()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    return DateTimeText(now);
}

std::wstring ElapsedText(ULONGLONG milliseconds)
{
    const auto twoDigits = [](ULONGLONG value) {
        std::wstring text = std::to_wstring(value);
        return text.size() < 2 ? L"0" + text : text;
    };
    const ULONGLONG seconds = milliseconds / 1000;
    return twoDigits(seconds / 3600) + L":" + twoDigits(seconds / 60 % 60) + L":" + twoDigits(seconds % 60) +
           L"." + std::to_wstring(milliseconds % 1000);
}

} // namespace tidyhive
