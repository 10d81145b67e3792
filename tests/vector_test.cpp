// SPDX-License-Identifier: MIT
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <dotprod/arrays.h>

static std::string sixDecimals(float value)
{
    char text[32];
    snprintf(text, sizeof text, "%.6f", value);
    return text;
}

TEST(GenerateVector, FirstValuesAreGlibcDrawsScaledIntoHundredths)
{
    float *v = generateVector(3);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(sixDecimals(v[0]), "0.008402");
    EXPECT_EQ(sixDecimals(v[1]), "0.003944");
    EXPECT_EQ(sixDecimals(v[2]), "0.007831");
    freeVector(v);
}

// Every element is the draw divided in double and only then rounded to float.
TEST(GenerateVector, EveryElementIsDoubleQuotientRoundedOnce)
{
    const int size = 100000;
    float *v = generateVector(size);
    ASSERT_NE(v, nullptr);
    srand(0);
    for (int i = 0; i < size; i++) {
        float expected = (float)((double)rand() / 214748364700.0);
        ASSERT_EQ(v[i], expected) << "element " << i;
        ASSERT_TRUE(v[i] >= 0.0f && v[i] <= 0.01f) << "element " << i;
    }
    freeVector(v);
}

TEST(GenerateVector, ReseedsSoCallsAgreeAndShorterIsPrefix)
{
    float *longer = generateVector(1000);
    rand(); // a stray draw between calls must not shift the next vector
    float *shorter = generateVector(10);
    ASSERT_NE(longer, nullptr);
    ASSERT_NE(shorter, nullptr);
    for (int i = 0; i < 10; i++)
        EXPECT_EQ(shorter[i], longer[i]) << "element " << i;
    freeVector(longer);
    freeVector(shorter);
}

TEST(GenerateVector, SizeZeroIsUsableAndStillReseeds)
{
    srand(42);
    float *v = generateVector(0);
    EXPECT_NE(v, nullptr);
    int next = rand();
    srand(0);
    EXPECT_EQ(next, rand());
    freeVector(v);
}

// A slice is the same elements of the whole vector wherever it starts, a
// stray draw before the call notwithstanding; size 0 is a valid empty block.
TEST(GenerateVectorPart, SlicesMatchTheWholeVector)
{
    const int length = 1000;
    float *whole = generateVector(length);
    ASSERT_NE(whole, nullptr);
    const struct {
        int first, size;
    } slices[] = {{0, 10}, {1, 1}, {333, 334}, {990, 10}, {length, 0}};
    for (auto [first, size] : slices) {
        rand();
        float *part = generateVectorPart(first, size);
        ASSERT_NE(part, nullptr) << first << "+" << size;
        EXPECT_EQ(std::vector<float>(part, part + size),
                  std::vector<float>(whole + first, whole + first + size))
            << first << "+" << size;
        freeVector(part);
    }
    freeVector(whole);
}

// A rank that computes a negative start gets the failure it can test for.
TEST(GenerateVectorPart, NegativeFirstFailsLikeAnAllocation)
{
    testing::internal::CaptureStdout();
    float *part = generateVectorPart(-1, 10);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error when allocating vector of size 10.\n");
    EXPECT_EQ(part, nullptr);
    freeVector(part);
}

// The empty variants hand out writable blocks of the asked length.
TEST(GenerateEmptyVector, BlocksHoldTheirLength)
{
    float *f = generateEmptyVector(257);
    int *n = generateEmptyIntVector(257);
    ASSERT_NE(f, nullptr);
    ASSERT_NE(n, nullptr);
    for (int i = 0; i < 257; i++) {
        f[i] = (float)i;
        n[i] = -i;
    }
    EXPECT_EQ(f[256] + (float)n[256], 0.0f);
    freeVector(f);
    freeVector(n);
}
