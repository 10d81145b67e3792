// SPDX-License-Identifier: MIT
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <dotprod/arrays.h>

static_assert(sizeof(float) == 4 && sizeof(int) == 4);

// One hundred times RAND_MAX: puts every element in [0, 0.01].
static const double vectorScale = 214748364700.0;

static void reportVector(int size)
{
    printf("Error when allocating vector of size %d.\n", size);
}

// A negative size becomes a request no malloc can meet, so it fails
// like any other allocation instead of wrapping to a small block.
static void *allocateVector(int size)
{
    void *array = malloc((std::size_t)((std::int64_t)size * 4));
    if (!array)
        reportVector(size);
    return array;
}

float *generateEmptyVector(int size)
{
    return (float *)allocateVector(size);
}

int *generateEmptyIntVector(int size)
{
    return (int *)allocateVector(size);
}

// rand() has no way to jump ahead: the draws before the slice are made
// and thrown away. A negative first is refused before rand() is touched,
// as a failed allocation leaves it alone too.
float *generateVectorPart(int first, int size)
{
    if (first < 0) {
        reportVector(size);
        return nullptr;
    }
    float *array = generateEmptyVector(size);
    if (!array)
        return nullptr;
    srand(0);
    for (int i = 0; i < first; i++)
        rand();
    for (int i = 0; i < size; i++)
        array[i] = (float)(rand() / vectorScale);
    return array;
}

float *generateVector(int size)
{
    return generateVectorPart(0, size);
}

void freeVector(void *array)
{
    free(array);
}
