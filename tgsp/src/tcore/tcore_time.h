// Broken-down time helpers used when certificate times are shown as local
// time. A tcore_systemtime is the calendar record of the desktop platform
// (full year, month 1-12), a struct tm the C library's (years since 1900,
// month 0-11).
#pragma once
#include <ctime>

struct tcore_systemtime {
    int year;          // e.g. 2016
    int month;         // 1-12
    int dayOfWeek;     // 0 = Sunday
    int day;           // 1-31
    int hour, minute, second;
    int milliseconds;  // always 0 here
};

// Field-by-field conversions; they never fail (null arguments are ignored).
// tm -> systemtime: year + 1900, month + 1, milliseconds 0.
void tcore_time_tmToSystemTime(const struct tm *tm, tcore_systemtime *st);
// systemtime -> tm: year - 1900, month - 1; day of year and daylight flag 0.
void tcore_time_systemTimeToTm(const tcore_systemtime *st, struct tm *tm);

// Broken-down UTC time -> broken-down local time of the current time zone
// (TZ rules, daylight saving included). 0, or -1 for a null argument or a
// time that cannot be converted. Day of year and daylight flag are 0.
int tcore_time_utcToLocal(const struct tm *utc, struct tm *local);
