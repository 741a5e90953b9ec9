// Date and time texts of the report.
#include "services/DateTimeText.h"

#include <gtest/gtest.h>

#include <vector>

namespace tidyhive {
namespace {

TEST(DateTimeTextTest, ElapsedTimesShowMillisecondsWithoutLeadingZeros)
{
    struct Case {
        ULONGLONG milliseconds;
        const wchar_t *text;
    };
    const std::vector<Case> cases = {
        {0, L"00:00:00.0"},         {7, L"00:00:00.7"},       {65030, L"00:01:05.30"},
        {3599999, L"00:59:59.999"}, {3600000, L"01:00:00.0"}, {90061001, L"25:01:01.1"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(ElapsedText(c.milliseconds), c.text) << c.milliseconds << " ms";
    }
}

TEST(DateTimeTextTest, DateAndTimeFollowTheUsersFormats)
{
    const SYSTEMTIME time = {2024, 12, 2, 31, 23, 59, 58, 7};
    wchar_t date[128] = {};
    wchar_t clock[128] = {};
    GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &time, nullptr, date, 128);
    GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &time, nullptr, clock, 128);
    EXPECT_EQ(DateTimeText(time), std::wstring(date) + L" " + clock);
    EXPECT_NE(DateTimeText(time).find(L"59"), std::wstring::npos) << "the long time carries the seconds";
}

} // namespace
} // namespace tidyhive
