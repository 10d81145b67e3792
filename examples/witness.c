// SPDX-License-Identifier: MIT
/* The sweep's witness of a run, preloaded into each of its processes
 * (LD_PRELOAD). Where DOTPROD_WITNESS names a file that exists, it
 * appends to it, one write(2) a line:
 *
 *   start PID DEV INO SIZE MTIME PATH   a program image begins (and a fork)
 *   object PID DEV INO SIZE MTIME PATH  a shared object it has loaded, as it
 *                                       begins and as it exits normally
 *   thread PID TID NS                   a thread's processor time at its end
 *   end PID NS CPUS                     the process's processor time, and the
 *                                       CPUs it may run on, as it exits
 *
 * PATH is the file's, each byte outside '!'..'~' and '%' written as
 * %XX. A thread it started reports at its end; the threads still running
 * at exit (OpenMP's pool, the main thread) are read from /proc then. It
 * runs when a process or a thread starts or ends, never in between: a
 * program's loop runs as it would without it. */
#define _GNU_SOURCE
#include <dirent.h>
#include <link.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

static int out = -1;
static pthread_key_t ending;

static void put(const char *line, int len)
{
    int saved = errno;
    if (out >= 0 && len > 0 && len < 4096)
        (void)!write(out, line, (size_t)len);
    errno = saved;
}

static long long clock_ns(clockid_t clock)
{
    struct timespec t;
    if (clock_gettime(clock, &t) != 0)
        return -1;
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

static void escape(char *to, const char *from, size_t room)
{
    static const char hex[] = "0123456789ABCDEF";
    size_t i = 0;
    for (const unsigned char *c = (const unsigned char *)from; *c && i + 4 < room; c++) {
        if (*c > ' ' && *c <= '~' && *c != '%') {
            to[i++] = (char)*c;
        } else {
            to[i++] = '%';
            to[i++] = hex[*c >> 4];
            to[i++] = hex[*c & 15];
        }
    }
    to[i] = '\0';
}

/* A file as the kernel sees it now, by the path it was opened with. */
static void say_file(const char *kind, const char *shown, const char *opened)
{
    char escaped[3072], line[3200];
    struct stat st;
    if (stat(opened, &st) != 0)
        return;
    escape(escaped, shown, sizeof escaped);
    put(line, snprintf(line, sizeof line, "%s %d %llu %llu %lld %lld %s\n", kind, (int)getpid(),
                       (unsigned long long)st.st_dev, (unsigned long long)st.st_ino,
                       (long long)st.st_size,
                       st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec, escaped));
}

static void say_start(void)
{
    char path[1024];
    ssize_t len = readlink("/proc/self/exe", path, sizeof path - 1);
    if (len <= 0)
        return;
    path[len] = '\0';
    say_file("start", path, "/proc/self/exe");
}

static int say_object(struct dl_phdr_info *info, size_t size, void *unused)
{
    (void)size, (void)unused;
    char full[PATH_MAX];
    const char *name = info->dlpi_name;
    if (name[0] == '/')
        say_file("object", name, name);
    else if (name[0] && realpath(name, full))  // loaded by a relative path; the vDSO has no file
        say_file("object", full, full);
    return 0;
}

/* The code a program runs is its image's and its shared objects': those it
 * was linked with, as it begins, and those it opened since, as it exits
 * normally (not from _exit, which a vfork child may call). */
static void say_objects(void)
{
    if (out >= 0)
        dl_iterate_phdr(say_object, NULL);
}

static void say_thread(long long tid, long long ns)
{
    char line[96];
    if (ns >= 0)
        put(line, snprintf(line, sizeof line, "thread %d %lld %lld\n", (int)getpid(), tid, ns));
}

static void thread_ended(void *unused)
{
    (void)unused;
    say_thread(gettid(), clock_ns(CLOCK_THREAD_CPUTIME_ID));
}

/* A thread still running at exit: its time so far, read as its CPU clock
 * (Linux numbers a thread's clock after its id, as pthread_getcpuclockid
 * does), which counts the time since the scheduler last looked at it. */
static long long running_ns(pid_t tid)
{
    return clock_ns((clockid_t)((~(unsigned)tid << 3) | 6));  // per thread, scheduler's
}

/* Each thread still running, and the CPUs any of them may run on (a
 * bound thread may run on one). Read with getdents64 rather than
 * opendir: from _exit, in a vfork child, nothing may allocate. */
static int report_tasks(void)
{
    cpu_set_t all, one;
    CPU_ZERO(&all);
    char buffer[4096];
    int dir = open("/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (long got; dir >= 0 && (got = syscall(SYS_getdents64, dir, buffer, sizeof buffer)) > 0;) {
        for (long at = 0; at < got;) {
            struct dirent64 *d = (struct dirent64 *)(buffer + at);
            at += d->d_reclen;
            if (d->d_name[0] == '.')
                continue;
            pid_t tid = (pid_t)atoi(d->d_name);
            say_thread(tid, running_ns(tid));
            if (sched_getaffinity(tid, sizeof one, &one) == 0)
                CPU_OR(&all, &all, &one);
        }
    }
    if (dir >= 0)
        close(dir);
    return CPU_COUNT(&all);
}

static void say_end(void)
{
    // Once a process: exit, then _exit from a handler. By pid, as a vfork
    // child that leaves shares this memory with its parent.
    static volatile pid_t said;
    if (out < 0 || said == getpid())
        return;
    said = getpid();
    int cpus = report_tasks();
    struct rusage used;
    char line[96];
    if (getrusage(RUSAGE_SELF, &used) == 0)
        put(line, snprintf(line, sizeof line, "end %d %lld %d\n", (int)getpid(),
                           (used.ru_utime.tv_sec + used.ru_stime.tv_sec) * 1000000000LL +
                           (used.ru_utime.tv_usec + used.ru_stime.tv_usec) * 1000LL, cpus));
}

__attribute__((destructor)) static void ending_normally(void)
{
    say_objects();
    say_end();
}

/* Shells and Python's os._exit leave without destructors. */
__attribute__((noreturn)) static void leave(const char *name, int status)
{
    say_end();
    void (*real)(int) = (void (*)(int))dlsym(RTLD_NEXT, name);
    if (real)
        real(status);
    syscall(SYS_exit_group, status);
    for (;;) {
    }
}

void _exit(int status) { leave("_exit", status); }
void _Exit(int status) { leave("_Exit", status); }

__attribute__((constructor)) static void say_begin(void)
{
    const char *file = getenv("DOTPROD_WITNESS");
    if (!file || !*file || pthread_key_create(&ending, thread_ended) != 0)
        return;
    out = open(file, O_WRONLY | O_APPEND | O_CLOEXEC);  // the sweep made it: never created here
    if (out < 0)
        return;
    pthread_atfork(NULL, NULL, say_start);
    say_start();
    say_objects();
}

struct start {
    void *(*routine)(void *);
    void *arg;
};

static void *started(void *given)
{
    struct start s = *(struct start *)given;
    free(given);
    pthread_setspecific(ending, &ending);  // any value: the key's destructor runs at its end
    return s.routine(s.arg);
}

int pthread_create(pthread_t *thread, const pthread_attr_t *attr, void *(*routine)(void *),
                   void *arg)
{
    static int (*create)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *);
    if (!create)
        create = (int (*)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *))
            dlsym(RTLD_NEXT, "pthread_create");
    if (!create)
        return EAGAIN;
    struct start *s = out >= 0 ? malloc(sizeof *s) : NULL;
    if (!s)
        return create(thread, attr, routine, arg);
    s->routine = routine;
    s->arg = arg;
    int made = create(thread, attr, started, s);
    if (made != 0)
        free(s);
    return made;
}
