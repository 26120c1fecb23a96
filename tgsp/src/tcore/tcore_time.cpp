#include "tcore/tcore_time.h"

void tcore_time_tmToSystemTime(const struct tm *tm, tcore_systemtime *st) {
    if (!tm || !st) return;
    st->year = tm->tm_year + 1900;
    st->month = tm->tm_mon + 1;
    st->dayOfWeek = tm->tm_wday;
    st->day = tm->tm_mday;
    st->hour = tm->tm_hour;
    st->minute = tm->tm_min;
    st->second = tm->tm_sec;
    st->milliseconds = 0;
}

void tcore_time_systemTimeToTm(const tcore_systemtime *st, struct tm *tm) {
    if (!st || !tm) return;
    *tm = {};
    tm->tm_year = st->year - 1900;
    tm->tm_mon = st->month - 1;
    tm->tm_wday = st->dayOfWeek;
    tm->tm_mday = st->day;
    tm->tm_hour = st->hour;
    tm->tm_min = st->minute;
    tm->tm_sec = st->second;
}

int tcore_time_utcToLocal(const struct tm *utc, struct tm *local) {
    if (!utc || !local) return -1;
    struct tm copy = *utc;
    time_t t = timegm(&copy);
    if (t == static_cast<time_t>(-1) && !(utc->tm_year == 69 && utc->tm_mon == 11 && utc->tm_mday == 31)) return -1;
    struct tm lt;
    if (!localtime_r(&t, &lt)) return -1;
    tcore_systemtime st;
    tcore_time_tmToSystemTime(&lt, &st);
    tcore_time_systemTimeToTm(&st, local);
    return 0;
}
