// SPDX-License-Identifier: MIT
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <dotprod/arrays.h>

// RAND_MAX: puts every element in [0, 1].
static const double matrixScale = 2147483647.0;

// size * size * 4 bytes, or a count no malloc can meet where that product
// does not fit 64 bits (|size| near 2^31). The square of an int always fits.
static std::size_t elementBytes(int size)
{
    std::uint64_t elements = (std::uint64_t)((std::int64_t)size * size);
    std::uint64_t bytes;
    if (__builtin_mul_overflow(elements, 4u, &bytes))
        return SIZE_MAX;
    return bytes;
}

// The row table has room for one pointer even when size is 0, so that
// row 0 always holds the element block and freeMatrix treats every size alike.
static std::size_t rowTableBytes(int size)
{
    return (std::size_t)((std::int64_t)(size == 0 ? 1 : size) * (std::int64_t)sizeof(float *));
}

float **generateEmptyMatrix(int size)
{
    float **matrix = (float **)malloc(rowTableBytes(size));
    float *array = (float *)malloc(elementBytes(size));
    if (!matrix || !array) {
        printf("Error when allocating matrix of size %d.\n", size);
        free(array);
        free(matrix);
        return nullptr;
    }
    matrix[0] = array;
    for (int i = 0; i < size; i++)
        matrix[i] = array + (std::int64_t)i * size;
    return matrix;
}

float **generateMatrix(int size)
{
    float **matrix = generateEmptyMatrix(size);
    if (!matrix)
        return nullptr;
    srand(0);
    float *array = matrix[0];
    std::int64_t count = (std::int64_t)size * size;
    for (std::int64_t i = 0; i < count; i++)
        array[i] = (float)(rand() / matrixScale);
    return matrix;
}

void freeMatrix(float **matrix)
{
    if (!matrix)
        return;
    free(matrix[0]);
    free(matrix);
}
