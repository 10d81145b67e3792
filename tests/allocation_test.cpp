// SPDX-License-Identifier: MIT
#include <climits>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include <dotprod/arrays.h>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

struct Allocation {
    const char *name;
    const char *kind; // the word the report line uses
    void *(*allocate)(int size);
    void (*release)(void *block);
};

static void releaseVector(void *block) { freeVector(block); }
static void releaseMatrix(void *block) { freeMatrix((float **)block); }

static const Allocation allocations[] = {
    {"generateVector", "vector", [](int s) -> void * { return generateVector(s); }, releaseVector},
    {"generateVectorPart", "vector", [](int s) -> void * { return generateVectorPart(5, s); },
     releaseVector},
    {"generateEmptyVector", "vector", [](int s) -> void * { return generateEmptyVector(s); },
     releaseVector},
    {"generateEmptyIntVector", "vector", [](int s) -> void * { return generateEmptyIntVector(s); },
     releaseVector},
    {"generateMatrix", "matrix", [](int s) -> void * { return generateMatrix(s); }, releaseMatrix},
    {"generateEmptyMatrix", "matrix", [](int s) -> void * { return generateEmptyMatrix(s); },
     releaseMatrix},
};

// -5 for a matrix: the row table fails but the 100-byte block is had, and
// must be given back (the sanitized run's leak check sees it). INT_MIN: a
// matrix block size that does not fit 64 bits.
TEST(Allocation, FailureWritesOneLineReturnsNullKeepsNothingLeavesGeneratorAlone)
{
    for (const Allocation &a : allocations) {
        for (int size : {-1, -5, INT_MIN}) {
            srand(7);
            CaptureStdout();
            void *block = a.allocate(size);
            std::string out = GetCapturedStdout();
            EXPECT_EQ(block, nullptr) << a.name << " " << size;
            EXPECT_EQ(out, std::string("Error when allocating ") + a.kind + " of size " +
                               std::to_string(size) + ".\n")
                << a.name;
            int next = rand();
            srand(7);
            EXPECT_EQ(next, rand()) << a.name << " touched the generator";
            a.release(block); // what a caller does on every path: null must be harmless
        }
    }
}
