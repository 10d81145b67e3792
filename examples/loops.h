// SPDX-License-Identifier: MIT
// The loops that the examples time: dotprod-simd's, which dotprod-parallel
// runs on each thread's share, and dotprod-ceiling's reads; and how they
// are built for the processor that runs them.
#ifndef DOTPROD_EXAMPLES_LOOPS_H
#define DOTPROD_EXAMPLES_LOOPS_H

#include <cstdint>

// On x86-64 each loop also has versions for newer processors, picked when
// the program starts: unlike -march=native, the program still runs on any
// x86-64. The compiler builds the reads for AVX-512 and for FMA (AVX with
// fused multiply-adds) beside the baseline, and the loader picks the best
// one the processor has (VECTOR_VERSIONS); the dot loop's AVX version is
// written out (dotAvx, where LOOPS_AVX is defined). Other processors get
// the one build.
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define LOOPS_AVX 1
#define VECTOR_VERSIONS __attribute__((target_clones("avx512f", "fma", "default")))
#else
#define VECTOR_VERSIONS
#endif

// The sum of a[k] * b[k] for k from 0 to n - 1, in double. A float times a
// float is exact in double, and a double sum of N terms is off by at most
// about N * 2^-53 of its value (1e-9 at N = 10^7), where dotprod's float
// sum ends 1.26 % low. An addition takes 4 cycles before the next one into
// the same register can start, so term k goes into sum k % 32 of 32
// separate sums, kept across the whole loop and added up once at the end:
// the additions of one group do not wait for each other. Every version
// below keeps those sums, so the result is the same to the last bit on any
// processor.
inline double addUp(const double part[32], const float *a, const float *b, std::int64_t n)
{
    double sum = 0.0;
    for (std::int64_t k = 0; k < n; k++)
        sum += (double)a[k] * b[k];
    for (int l = 0; l < 32; l++)
        sum += part[l];
    return sum;
}

inline double dotLanes(const float *a, const float *b, std::int64_t n)
{
    double part[32] = {};
    std::int64_t full = n - n % 32;
    for (std::int64_t i = 0; i < full; i += 32)
        for (int l = 0; l < 32; l++)
            part[l] += (double)a[i + l] * b[i + l];
    return addUp(part, a + full, b + full, n - full);
}

#ifdef LOOPS_AVX
// The same sums, 4 to a register, for processors with AVX and fused
// multiply-adds (x86-64 since 2013): the baseline's instructions convert
// two floats at a time, too few to keep up with memory. Each conversion
// takes its 4 floats straight from memory. Compilers instead load 8 or 16
// and convert the halves, one more instruction for the unit that converts:
// on the project's machine that held the loop to about half this one's
// speed with the vectors in L1, and converting 8 at a time to 512 bits
// was slower than this too (docs/results.md). As the product is exact,
// the fused multiply-add rounds as the multiply and the add would. The
// vectors are read straight through; the processor fetches ahead by
// itself (asking for data 8 KiB early was slower at 10^7).
__attribute__((target("fma"))) inline double dotAvx(const float *a, const float *b,
                                                    std::int64_t n)
{
    __m256d sums[8];
    for (__m256d &s : sums)
        s = _mm256_setzero_pd();
    std::int64_t full = n - n % 32;
    for (std::int64_t i = 0; i < full; i += 32)
        for (int g = 0; g < 8; g++) {
            __m256d x = _mm256_cvtps_pd(_mm_loadu_ps(a + i + 4 * g));
            __m256d y = _mm256_cvtps_pd(_mm_loadu_ps(b + i + 4 * g));
            sums[g] = _mm256_fmadd_pd(x, y, sums[g]);
        }
    double part[32];
    for (int g = 0; g < 8; g++)
        _mm256_storeu_pd(part + 4 * g, sums[g]);
    return addUp(part, a + full, b + full, n - full);
}
#endif

// What dotprod-simd times, and dotprod-parallel on each thread's share:
// the sum of A[k] * B[k] for k from begin to end - 1, with the fastest
// version this processor runs.
inline double dotDouble(const float *A, const float *B, std::int64_t begin, std::int64_t end)
{
#ifdef LOOPS_AVX
    if (__builtin_cpu_supports("fma"))
        return dotAvx(A + begin, B + begin, end - begin);
#endif
    return dotLanes(A + begin, B + begin, end - begin);
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
