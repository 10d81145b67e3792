// SPDX-License-Identifier: MIT
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include <dotprod/arrays.h>

static std::string rowText(const float *row, int size)
{
    std::string text;
    for (int j = 0; j < size; j++) {
        char value[32];
        snprintf(value, sizeof value, j ? " %.6f" : "%.6f", row[j]);
        text += value;
    }
    return text;
}

TEST(GenerateMatrix, SmallMatricesHoldGlibcDrawsOverRandMax)
{
    float **one = generateMatrix(1);
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(one[0][0], (float)(1804289383 / 2147483647.0)); // glibc's first draw
    freeMatrix(one);

    float **two = generateMatrix(2);
    ASSERT_NE(two, nullptr);
    EXPECT_EQ(rowText(two[0], 2), "0.840188 0.394383");
    EXPECT_EQ(rowText(two[1], 2), "0.783099 0.798440");
    freeMatrix(two);
}

TEST(GenerateMatrix, CallsAgreeAndRowsTileTheBlock)
{
    const int size = 37;
    float **a = generateMatrix(size);
    rand();
    float **b = generateMatrix(size);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    for (int i = 0; i < size; i++) {
        ASSERT_EQ(a[i], a[0] + i * size);
        for (int j = 0; j < size; j++) {
            ASSERT_EQ(a[i][j], b[i][j]) << i << "," << j;
            ASSERT_TRUE(a[i][j] >= 0.0f && a[i][j] <= 1.0f) << i << "," << j;
        }
    }
    freeMatrix(a);
    freeMatrix(b);
}

// No rows, yet a real matrix: created, reseeding, released without
// touching memory it does not own (the sanitized run checks that).
TEST(GenerateMatrix, SizeZeroIsAMatrixWithNoRows)
{
    srand(42);
    float **m = generateMatrix(0);
    EXPECT_NE(m, nullptr);
    int next = rand();
    srand(0);
    EXPECT_EQ(next, rand());
    freeMatrix(m);
    float **empty = generateEmptyMatrix(0);
    EXPECT_NE(empty, nullptr);
    freeMatrix(empty);
}

// The last row starts past INT_MAX elements in: rows must still land at i * size.
// Only the row table and one element are touched, not the 8 GiB block.
TEST(GenerateEmptyMatrix, RowOffsetsBeyondIntRange)
{
    const int size = 46342; // (size - 1) * size > INT_MAX
    float **m = generateEmptyMatrix(size);
    ASSERT_NE(m, nullptr);
    for (int i = 0; i < size; i++)
        ASSERT_EQ(m[i] - m[0], (std::int64_t)i * size) << "row " << i;
    m[size - 1][size - 1] = 1.0f;
    EXPECT_EQ(m[0][(std::int64_t)size * size - 1], 1.0f);
    freeMatrix(m);
}
