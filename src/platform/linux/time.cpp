// Tick counts and the performance counter run on the monotonic clock.
#include <sys/time.h>
#include <ctime>

#include "winkernel.h"

namespace {
uint64_t MonotonicNs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint64_t)ts.tv_sec * 1000000000ull + (uint64_t)ts.tv_nsec;
}
} // namespace

DWORD GetTickCount() {
    return (DWORD)(MonotonicNs() / 1000000);
}
ULONGLONG GetTickCount64() {
    return MonotonicNs() / 1000000;
}

BOOL QueryPerformanceCounter(LARGE_INTEGER* count) {
    count->QuadPart = (LONGLONG)(MonotonicNs() / 100);
    return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
    frequency->QuadPart = 10000000; // 100-ns ticks, as Windows 10 reports
    return TRUE;
}

UINT timeBeginPeriod(UINT) {
    return TIMERR_NOERROR;
}

UINT timeEndPeriod(UINT) {
    return TIMERR_NOERROR;
}

void GetLocalTime(SYSTEMTIME* st) {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local;
    localtime_r(&ts.tv_sec, &local);
    st->wYear = (WORD)(local.tm_year + 1900);
    st->wMonth = (WORD)(local.tm_mon + 1);
    st->wDayOfWeek = (WORD)local.tm_wday;
    st->wDay = (WORD)local.tm_mday;
    st->wHour = (WORD)local.tm_hour;
    st->wMinute = (WORD)local.tm_min;
    st->wSecond = (WORD)local.tm_sec;
    st->wMilliseconds = (WORD)(ts.tv_nsec / 1000000);
}
