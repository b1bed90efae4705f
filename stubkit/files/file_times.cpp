#include "stubkit/files/file_times.h"

#include <cstdio>

namespace stubkit {
namespace {

constexpr std::int64_t kTicksPerSecond = 10000000;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kUnixEpochInFiletimeSeconds = 11644473600;

struct CivilDate {
    std::int64_t year;
    int month;
    int day;
};

// The proleptic Gregorian date `days` after 1970-01-01 (days >= the 1601
// start of FILETIMEs): whole 400-year eras, then the year inside the era
// counted from March, so that the leap day falls at a year's end.
CivilDate DateFromDays(std::int64_t days)
{
    days += 719468;   // from 0000-03-01
    const std::int64_t era = days / 146097;
    const std::int64_t day_of_era = days - era * 146097;
    const std::int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const std::int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const std::int64_t month_from_march = (5 * day_of_year + 2) / 153;
    const int day = static_cast<int>(day_of_year - (153 * month_from_march + 2) / 5 + 1);
    const int month = static_cast<int>(month_from_march < 10 ? month_from_march + 3 : month_from_march - 9);
    return {year_of_era + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

}  // namespace

std::string FormatFiletime(std::uint64_t filetime)
{
    const std::int64_t seconds = static_cast<std::int64_t>(filetime / kTicksPerSecond) - kUnixEpochInFiletimeSeconds;
    const std::int64_t days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
    const std::int64_t in_day = seconds - days * 86400;
    const CivilDate date = DateFromDays(days);
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02d-%02d %02d:%02d:%02d.%07u UTC", static_cast<long long>(date.year),
                  date.month, date.day, static_cast<int>(in_day / 3600), static_cast<int>(in_day / 60 % 60),
                  static_cast<int>(in_day % 60), static_cast<unsigned>(filetime % kTicksPerSecond));
    return text;
}

}  // namespace stubkit
