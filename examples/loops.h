// SPDX-License-Identifier: MIT
// The loops that the examples time: dotprod-simd's, which dotprod-parallel
// runs on each thread's share, and dotprod-ceiling's reads; and how they
// are built for the processor that runs them.
#ifndef DOTPROD_EXAMPLES_LOOPS_H
#define DOTPROD_EXAMPLES_LOOPS_H

#include <algorithm>
#include <cstdint>

// x86-64's baseline instructions (SSE2) convert two floats to double at a
// time, too few to keep up with the memory: on the project's machine such
// a loop read 8 GB/s at N = 10^7, where one core reads 14. A function
// marked VECTOR_VERSIONS is also built for AVX-512 and for FMA (AVX with
// fused multiply-adds), and the loader picks the best one the processor
// has; unlike -march=native, the program still runs on any x86-64. Other
// processors get the one build.
#if defined(__x86_64__) && defined(__GNUC__)
#define VECTOR_VERSIONS __attribute__((target_clones("avx512f", "fma", "default")))
#else
#define VECTOR_VERSIONS
#endif

// The sum of A[k] * B[k] for k from begin to end - 1. A float times a float
// is exact in double, and a double sum of N terms is off by at most about
// N * 2^-53 of its value (1e-9 at N = 10^7), where dotprod's float sum ends
// 1.26 % low. As the product is exact, a fused multiply-add rounds exactly
// as a multiply and an add would: one instruction instead of two, and the
// same sum to the last bit (where a processor has none, as the baseline
// x86-64 build, the C library computes it, slowly).
//
// An addition takes 4 cycles before the next one into the same register
// can start, and AVX-512 converts, multiplies and adds 8 terms at a time:
// one running sum per lane, as `omp simd reduction` keeps, lets the core
// add only 8 terms every 4 cycles, half what it can read from L2. So the
// terms go into 32 separate sums (4 AVX-512 registers, 8 AVX ones), kept
// across the whole loop and added up once at the end: the additions of one
// group do not wait for each other. The lanes, and so the last bits of the
// sum, depend on the instructions chosen.
//
// It reads the two vectors straight through and leaves the fetching ahead
// to the processor: asking for data 8 KiB early (__builtin_prefetch), in
// four streams, was slower at 10^7 terms on the project's machine
// (docs/results.md).
VECTOR_VERSIONS inline double dotDouble(const float *A, const float *B, std::int64_t begin,
                                        std::int64_t end)
{
    constexpr int lanes = 32;
    double part[lanes] = {};
    const float *a = A + begin, *b = B + begin;
    std::int64_t n = end - begin, full = n - n % lanes;
    for (std::int64_t i = 0; i < full; i += lanes)
        for (int l = 0; l < lanes; l++)
            part[l] = __builtin_fma((double)a[i + l], (double)b[i + l], part[l]);
    double sum = 0.0;
    for (std::int64_t k = full; k < n; k++)
        sum += (double)a[k] * b[k];
    for (double p : part)
        sum += p;
    return sum;
}

// The cheap reads that cannot be skipped, for dotprod-ceiling: each adds
// both vectors from begin to end - 1 into float lanes, which the compiler
// keeps in vector registers, so no addition waits for the one before.
// readBoth keeps 16 lanes (one AVX-512 register, two AVX2 ones); readWide
// keeps 64, so that L1 and L2, not the additions, set its pace, and asks
// for the data `ahead` floats early when ahead is not 0; readHalves reads
// each vector at two places at once, with its data asked for early. No one
// of them is the fastest on every processor and at every length.
VECTOR_VERSIONS inline double readBoth(const float *A, const float *B, std::int64_t begin,
                                       std::int64_t end)
{
    constexpr int lanes = 16;
    float lane[lanes] = {};
    const float *a = A + begin, *b = B + begin;
    for (std::int64_t i = 0; i < (end - begin) / lanes; i++)
        for (int j = 0; j < lanes; j++)
            lane[j] += a[i * lanes + j] + b[i * lanes + j];
    double total = 0.0;
    for (std::int64_t k = end - (end - begin) % lanes; k < end; k++)
        total += A[k] + B[k];
    for (float sum : lane)
        total += sum;
    return total;
}

VECTOR_VERSIONS inline double readWide(const float *A, const float *B, std::int64_t begin,
                                       std::int64_t end, int ahead)
{
    constexpr int lanes = 64, line = 64 / sizeof(float);
    float lane[lanes] = {};
    const float *a = A + begin, *b = B + begin;
    std::int64_t n = end - begin, full = n - n % lanes;
    for (std::int64_t i = 0; i < full; i += lanes) {
        if (ahead)
            for (int l = 0; l < lanes; l += line) {
                __builtin_prefetch(a + i + ahead + l);
                __builtin_prefetch(b + i + ahead + l);
            }
        for (int j = 0; j < lanes; j++)
            lane[j] += a[i + j] + b[i + j];
    }
    double total = 0.0;
    for (std::int64_t k = full; k < n; k++)
        total += a[k] + b[k];
    for (float sum : lane)
        total += sum;
    return total;
}

VECTOR_VERSIONS inline double readHalves(const float *A, const float *B, std::int64_t begin,
                                         std::int64_t end)
{
    constexpr int lanes = 32, ahead = 2048, line = 64 / sizeof(float);
    float lane[2][lanes] = {};
    std::int64_t n = end - begin, half = n / (2 * lanes) * lanes;
    const float *a = A + begin, *b = B + begin, *a2 = a + half, *b2 = b + half;
    for (std::int64_t i = 0; i < half; i += lanes) {
        for (int l = 0; l < lanes; l += line) {
            __builtin_prefetch(a + i + ahead + l);
            __builtin_prefetch(b + i + ahead + l);
            __builtin_prefetch(a2 + i + ahead + l);
            __builtin_prefetch(b2 + i + ahead + l);
        }
        for (int j = 0; j < lanes; j++) {
            lane[0][j] += a[i + j] + b[i + j];
            lane[1][j] += a2[i + j] + b2[i + j];
        }
    }
    double total = 0.0;
    for (std::int64_t k = 2 * half; k < n; k++)
        total += a[k] + b[k];
    for (auto &sums : lane)
        for (float sum : sums)
            total += sum;
    return total;
}

#endif
