// SPDX-License-Identifier: MIT
// What the usual float summation orders give on the very vectors a run
// reads: the lowest and the highest result among them. A right float
// version lands near this range at any length; lost or extra work does not.
#ifndef DOTPROD_EXAMPLES_ORDERS_H
#define DOTPROD_EXAMPLES_ORDERS_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <numeric>
#include <vector>

struct Orders {
    double low = INFINITY, high = -INFINITY;
    void add(float x) { low = std::min(low, (double)x), high = std::max(high, (double)x); }
};

// One float addition of a*b: the product rounded to float first, or fused.
template <bool Fused> static inline float step(float s, float a, float b)
{
    return Fused ? std::fmaf(a, b, s) : s + a * b;
}

// Pairwise: halves summed apart, then added; a plain loop below 8 terms.
template <bool Fused> static float pairwise(const float *A, const float *B, std::int64_t n)
{
    if (n < 8) {
        float s = 0.0f;
        for (std::int64_t k = 0; k < n; k++)
            s = step<Fused>(s, A[k], B[k]);
        return s;
    }
    return pairwise<Fused>(A, B, n / 2) + pairwise<Fused>(A + n / 2, B + n / 2, n - n / 2);
}

template <bool Fused> static void floatOrders(Orders &o, const float *A, const float *B,
                                              std::int64_t n)
{
    float forward = 0.0f, reverse = 0.0f, kahan = 0.0f, lost = 0.0f;
    for (std::int64_t k = 0; k < n; k++) {
        forward = step<Fused>(forward, A[k], B[k]);
        reverse = step<Fused>(reverse, A[n - 1 - k], B[n - 1 - k]);
        float y = step<Fused>(-lost, A[k], B[k]), t = kahan + y;
        lost = (t - kahan) - y, kahan = t;
    }
    o.add(forward), o.add(reverse), o.add(kahan), o.add(pairwise<Fused>(A, B, n));
    // p partial sums, as vector lanes (term k into sum k % p) and as threads
    // (contiguous blocks), then added in turn and, for lanes, pairwise too.
    for (int p : {2, 3, 4, 8, 16, 32, 64, 128, 256}) {
        std::vector<float> lanes(p, 0.0f), blocks(p, 0.0f);
        for (std::int64_t k = 0; k < n; k += p)
            for (std::int64_t j = 0; j < p && k + j < n; j++)
                lanes[j] = step<Fused>(lanes[j], A[k + j], B[k + j]);
        for (int j = 0; j < p; j++)
            for (std::int64_t k = n * j / p; k < n * (j + 1) / p; k++)
                blocks[j] = step<Fused>(blocks[j], A[k], B[k]);
        float inTurn = 0.0f, blocksInTurn = 0.0f;
        for (int j = 0; j < p; j++)
            inTurn += lanes[j], blocksInTurn += blocks[j];
        // A vector register's horizontal sum: its upper half onto its lower.
        for (int width = p; width > 1; width = (width + 1) / 2)
            for (int j = 0; j < width / 2; j++)
                lanes[j] += lanes[j + (width + 1) / 2];
        o.add(inTurn), o.add(blocksInTurn), o.add(lanes[0]);
    }
}

struct Pair {
    float a, b;
};

// A term's product as an unsigned number in the products' order: a float
// product is exact in double, and setting the sign bit of a positive
// double, or flipping every bit of a negative one, orders doubles as
// integers.
static inline std::uint64_t productKey(Pair t)
{
    double p = (double)t.a * t.b;
    std::uint64_t bits;
    std::memcpy(&bits, &p, sizeof bits);
    return bits >> 63 ? ~bits : bits | (std::uint64_t)1 << 63;
}

// The terms in ascending order of their products. Terms of equal products
// add alike in either order, so any sort gives the same sums. A radix
// sort, 16 bits a pass, needs a second copy (8 more bytes per term) and
// is several times faster; without the memory for it, a comparison sort.
static void sortByProduct(std::vector<Pair> &terms)
{
    std::vector<Pair> other;
    try {
        other.resize(terms.size());
    } catch (const std::bad_alloc &) {
        std::sort(terms.begin(), terms.end(),
                  [](Pair x, Pair y) { return productKey(x) < productKey(y); });
        return;
    }
    std::vector<std::size_t> start(65537);
    for (int shift = 0; shift < 64; shift += 16) {
        std::fill(start.begin(), start.end(), 0);
        for (Pair t : terms)
            start[(productKey(t) >> shift & 0xffff) + 1]++;
        if (*std::max_element(start.begin(), start.end()) == terms.size())
            continue; // every term has this digit: the pass would move none
        std::partial_sum(start.begin(), start.end(), start.begin());
        for (Pair t : terms)
            other[start[productKey(t) >> shift & 0xffff]++] = t;
        terms.swap(other);
    }
}

// The float orders over the terms as given and sorted by size, ascending
// and descending. Sorting copies both vectors: 8 more bytes per term, and
// 8 more again where it can have them.
static Orders floatOrders(const float *A, const float *B, std::int64_t n)
{
    Orders o;
    floatOrders<false>(o, A, B, n);
    floatOrders<true>(o, A, B, n);
    std::vector<Pair> terms(n);
    for (std::int64_t k = 0; k < n; k++)
        terms[k] = {A[k], B[k]};
    sortByProduct(terms);
    float up = 0.0f, down = 0.0f, upFused = 0.0f, downFused = 0.0f;
    for (std::int64_t k = 0; k < n; k++) {
        const Pair &u = terms[k], &d = terms[n - 1 - k];
        up = step<false>(up, u.a, u.b), down = step<false>(down, d.a, d.b);
        upFused = step<true>(upFused, u.a, u.b), downFused = step<true>(downFused, d.a, d.b);
    }
    o.add(up), o.add(down), o.add(upFused), o.add(downFused);
    return o;
}

#endif
