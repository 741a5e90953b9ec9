// Date and time texts as the report shows them.
#pragma once

#include <windows.h>

#include <string>

namespace tidyhive {

// The runtime's standard date-and-time text: the user's short date format, a space, then
// the user's long time format ("31.12.2024 23:59:58" or "12/31/2024 11:59:58 PM").
std::wstring DateTimeText(const SYSTEMTIME &time);
// DateTimeText of the current local time.
std::wstring NowText();

// A duration as "hh:nn:ss.z": hours, minutes and seconds two digits each, then the
// milliseconds without leading zeros ("00:01:05.30" is 65.030 s). Hours do not wrap at
// a day.
std::wstring ElapsedText(ULONGLONG milliseconds);

} // namespace tidyhive
