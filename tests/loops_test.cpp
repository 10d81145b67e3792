// SPDX-License-Identifier: MIT
// The examples' dot loop: every version this processor runs gives the
// portable loop's sum to the last bit, from any start, and that sum is the
// true one to within a double sum's error.
#include <cmath>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "loops.h"

// Floats of both signs and of magnitudes from 2^-21 to 2^20, so that
// adding in another order shows in the last bits.
static std::vector<float> spread(std::int64_t n, std::uint32_t seed)
{
    std::vector<float> v(n);
    for (float &x : v) {
        seed = seed * 1664525u + 1013904223u;
        x = std::ldexp((float)(seed >> 8) / (1 << 24) - 0.5f, (int)(seed % 41) - 20);
    }
    return v;
}

TEST(DotDouble, EveryVersionGivesThePortableSumFromAnyStart)
{
    struct Range {
        std::int64_t begin, end;
    };
    // Lengths around the 32 sums, starts that are not a multiple of 4.
    const Range ranges[] = {{0, 0}, {0, 1}, {0, 31}, {0, 32}, {0, 33}, {3, 67}, {5, 1000}, {0, 100003}, {17, 100003}};
    for (Range r : ranges) {
        std::vector<float> a = spread(r.end, 1), b = spread(r.end, 2);
        const float *x = a.data() + r.begin, *y = b.data() + r.begin;
        std::int64_t n = r.end - r.begin;
        double portable = dotLanes(x, y, n);
        EXPECT_EQ(dotDouble(a.data(), b.data(), r.begin, r.end), portable) << r.begin << ".." << r.end;
#ifdef LOOPS_AVX
        if (__builtin_cpu_supports("fma")) {
            EXPECT_EQ(dotAvx(x, y, n), portable) << r.begin << ".." << r.end;
        }
#endif
        long double exact = 0, magnitude = 0;
        for (std::int64_t k = 0; k < n; k++) {
            long double term = (long double)x[k] * y[k];
            exact += term;
            magnitude += std::fabs(term);
        }
        EXPECT_LE(std::fabs(portable - exact), n * 0x1p-53L * magnitude) << r.begin << ".." << r.end;
    }
}
