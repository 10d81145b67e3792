/* SPDX-License-Identifier: MIT */
/* Preloaded into dotprod by the driver test: every source of the time of
 * day steps back 5 s more at each call, as NTP or an administrator may step
 * the clock while a loop runs. The monotonic clock is left alone. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <sys/time.h>
#include <time.h>

static time_t steps;

static time_t back(void)
{
    return 5 * ++steps;
}

int gettimeofday(struct timeval *restrict tv, void *restrict tz)
{
    int (*real)(struct timeval *, void *) = dlsym(RTLD_NEXT, "gettimeofday");
    int failed = real(tv, tz);
    if (!failed)
        tv->tv_sec -= back();
    return failed;
}

int clock_gettime(clockid_t id, struct timespec *tp)
{
    int (*real)(clockid_t, struct timespec *) = dlsym(RTLD_NEXT, "clock_gettime");
    int failed = real(id, tp);
    if (!failed && id == CLOCK_REALTIME)
        tp->tv_sec -= back();
    return failed;
}

time_t time(time_t *t)
{
    time_t (*real)(time_t *) = dlsym(RTLD_NEXT, "time");
    time_t now = real(NULL) - back();
    if (t)
        *t = now;
    return now;
}
