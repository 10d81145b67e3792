/* SPDX-License-Identifier: MIT */
/* A wrong candidate for the sweep's tests, as a real process must show it:
 * two threads add their halves of dotprod's dot product into one shared
 * float, without a reduction, and lose each other's updates. */
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <dotprod/arrays.h>

static float *A, *B;
static float sum;
static pthread_barrier_t start;

struct half {
    long begin, end;
};

static void *addHalf(void *arg)
{
    const struct half *h = arg;
    /* As an optimising compiler builds `sum += A[k] * B[k]` on a shared
     * sum: read once, kept in a register, written back at the end. Both
     * threads read it before either writes, whatever the scheduler does,
     * so the last to write loses the other's half every time. */
    float mine = sum;
    pthread_barrier_wait(&start);
    for (long k = h->begin; k < h->end; k++)
        mine = mine + A[k] * B[k];
    sum = mine;
    return NULL;
}

int main(int argc, char *argv[])
{
    int n = argc == 2 ? atoi(argv[1]) : 0;
    A = generateVector(n);
    B = generateVector(n);
    if (!A || !B)
        return 255;
    struct half halves[2] = {{0, n / 2}, {n / 2, n}};
    pthread_t other;
    struct timespec ini, fin;
    pthread_barrier_init(&start, NULL, 2);
    clock_gettime(CLOCK_MONOTONIC, &ini);
    if (pthread_create(&other, NULL, addHalf, &halves[1]) != 0)
        return 3;
    addHalf(&halves[0]);
    pthread_join(other, NULL);
    clock_gettime(CLOCK_MONOTONIC, &fin);
    printf("Resultado: %f\nTiempo: %.9f\n", sum,
           (double)(fin.tv_sec - ini.tv_sec) + (double)(fin.tv_nsec - ini.tv_nsec) / 1e9);
    return 0;
}
