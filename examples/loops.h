// SPDX-License-Identifier: MIT
// The loops that the examples time: dotprod-simd's, which dotprod-parallel
// runs on each thread's share, and dotprod-ceiling's read; and how they are
// built for the processor that runs them.
#ifndef DOTPROD_EXAMPLES_LOOPS_H
#define DOTPROD_EXAMPLES_LOOPS_H

#include <algorithm>
#include <cstdint>

// x86-64's baseline instructions (SSE2) convert two floats to double at a
// time, too few to keep up with the memory: on the project's machine such
// a loop read 8 GB/s at N = 10^7, where one core reads 14. A function
// marked VECTOR_VERSIONS is also built for AVX2 and AVX-512, and the loader
// picks the best one the processor has; unlike -march=native, the program
// still runs on any x86-64. Other processors get the one build.
#if defined(__x86_64__) && defined(__GNUC__)
#define VECTOR_VERSIONS __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define VECTOR_VERSIONS
#endif

// The sum of A[k] * B[k] for k from begin to end - 1. A float times a float
// is exact in double, and a double sum of N terms is off by at most about
// N * 2^-53 of its value (1e-9 at N = 10^7), where dotprod's float sum ends
// 1.26 % low. `omp simd reduction` (the programs are built with
// -fopenmp-simd or -fopenmp) lets the compiler keep a partial sum in each
// lane of its vector registers and add them up at the end, so no addition
// waits for the one before it. The lanes, and so the last bits of the sum,
// depend on the instructions chosen.
//
// A core has only so many reads from memory in flight, and the time it
// spends converting delays the next ones: the loop asks for each vector's
// data `ahead` floats (8 KiB) early, so that memory works while the core
// converts.
VECTOR_VERSIONS inline double dotDouble(const float *A, const float *B, std::int64_t begin,
                                        std::int64_t end)
{
    constexpr std::int64_t block = 256, ahead = 2048, line = 64 / sizeof(float);
    double sum = 0.0;
    for (std::int64_t k = begin; k < end; k += block) {
        std::int64_t stop = std::min(k + block, end);
        for (std::int64_t j = k + ahead; j < std::min(stop + ahead, end); j += line) {
            __builtin_prefetch(A + j);
            __builtin_prefetch(B + j);
        }
#pragma omp simd reduction(+ : sum)
        for (std::int64_t j = k; j < stop; j++)
            sum += (double)A[j] * B[j];
    }
    return sum;
}

// The cheapest read that cannot be skipped, for dotprod-ceiling: adds both
// vectors from begin to end - 1 into 16 float lanes, which the compiler
// keeps in vector registers, so no addition waits for the one before it.
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

#endif
