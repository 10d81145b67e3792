// SPDX-License-Identifier: MIT
// What the OpenMP examples share: binding their threads to CPUs, and
// starting them before the clock, with one line on standard error and
// status 3 when they cannot be started.
#ifndef DOTPROD_EXAMPLES_THREADS_H
#define DOTPROD_EXAMPLES_THREADS_H

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <omp.h>
#include <unistd.h>

// Threads that move between CPUs leave the data they read in another
// core's cache. Bind them as OMP_PROC_BIND=true does, unless the user chose
// a policy. LLVM's runtime reads the variable at its first use, libgomp
// when it is loaded, before main: then run the program again, so that it
// finds the variable set. If that fails, the threads stay unbound.
inline void bindThreads(char *argv[])
{
    if (getenv("OMP_PROC_BIND"))
        return;
    setenv("OMP_PROC_BIND", "true", 1);
    if (omp_get_proc_bind() == omp_proc_bind_false)
        execv("/proc/self/exe", argv);
}

// Neither runtime tells the program that it cannot create a thread: libgomp
// prints its message and calls exit(1), a status that means lost output
// here; LLVM's prints three lines and aborts. While the team starts, their
// lines go to /dev/null and both ends become ours: one line, status 3.
// A signal handler may only call async-signal-safe functions: the line is
// written with write() from a buffer filled beforehand.
inline volatile std::sig_atomic_t starting = 0;
inline char startFailure[160]; // the line to print if the team fails
inline int realStderr = -1;    // standard error, while it goes to /dev/null
inline void (*previousAbort)(int) = SIG_DFL;

inline void failStart()
{
    if (!starting)
        return;
    if (realStderr >= 0)
        dup2(realStderr, STDERR_FILENO);
    ssize_t written = write(STDERR_FILENO, startFailure, strlen(startFailure));
    (void)written;
    _exit(3);
}

inline void failStartOnSignal(int) { failStart(); }

inline void guardStart(const char *program, int wanted)
{
    snprintf(startFailure, sizeof startFailure,
             "%s: the system cannot start %d threads\n", program, wanted);
    fflush(stderr);
    realStderr = dup(STDERR_FILENO);
    int null = open("/dev/null", O_WRONLY);
    if (realStderr >= 0 && null >= 0)
        dup2(null, STDERR_FILENO);
    if (null >= 0)
        close(null);
    starting = 1;
    atexit(failStart);
    previousAbort = signal(SIGABRT, failStartOnSignal);
}

inline void endGuard()
{
    starting = 0;
    signal(SIGABRT, previousAbort);
    if (realStderr >= 0) {
        dup2(realStderr, STDERR_FILENO);
        close(realStderr);
        realStderr = -1;
    }
}

// The calling thread's contiguous share [begin, end) of n elements, the
// same in every parallel region of the same team.
struct Share {
    std::int64_t begin, end;
};

inline Share myShare(std::int64_t n)
{
    std::int64_t thread = omp_get_thread_num(), threads = omp_get_num_threads();
    return {n * thread / threads, n * (thread + 1) / threads};
}

// A dot product gains nothing from more threads than CPUs; far more is a
// mistake in OMP_NUM_THREADS, which libgomp answers with a crash.
constexpr int maxThreads = 1024;

// Starts OpenMP's team of omp_get_max_threads() threads, which the later
// parallel regions reuse, and returns its size; or -1 after one line on
// standard error.
inline int startThreads(const char *program)
{
    int wanted = omp_get_max_threads();
    if (wanted > maxThreads) {
        fprintf(stderr, "%s: cannot start %d threads, at most %d\n", program, wanted, maxThreads);
        return -1;
    }
    omp_set_dynamic(0); // the team asked for, or none
    int started = 0;
    guardStart(program, wanted);
#pragma omp parallel
    {
#pragma omp single
        started = omp_get_num_threads();
    }
    endGuard();
    if (started != wanted) {
        fprintf(stderr, "%s: OpenMP started %d of %d threads\n", program, started, wanted);
        return -1;
    }
    return started;
}

#endif
