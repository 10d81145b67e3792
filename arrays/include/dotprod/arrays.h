/* SPDX-License-Identifier: MIT */
/* Vectors and square matrices of pseudo-random floats: allocation, filling
 * and release. Usable from C and C++. */
#ifndef DOTPROD_ARRAYS_H
#define DOTPROD_ARRAYS_H

/* The shared library is built with hidden visibility: these declarations
 * are all it exports. */
#if defined(__GNUC__)
#define DOTPROD_ARRAYS_API __attribute__((visibility("default")))
#else
#define DOTPROD_ARRAYS_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Each allocating function returns null after writing one line to standard
 * output when the memory cannot be had. The generate functions reseed rand()
 * with 0 first, so their values depend only on size (for one libc). */

DOTPROD_ARRAYS_API float *generateVector(int size);
/* Elements first .. first+size-1 of the sequence generateVector gives, so
 * that a process can build its share of a long vector alone. It makes and
 * discards the first draws, so its time grows with first + size. A negative
 * first fails like a negative size: the line names size, the result is null. */
DOTPROD_ARRAYS_API float *generateVectorPart(int first, int size);
DOTPROD_ARRAYS_API float *generateEmptyVector(int size);
DOTPROD_ARRAYS_API int *generateEmptyIntVector(int size);
DOTPROD_ARRAYS_API void freeVector(void *array);

/* A size x size matrix is a table of row pointers into one row-major block
 * of floats; row 0 must keep pointing at the block's start until freeMatrix. */
DOTPROD_ARRAYS_API float **generateMatrix(int size);
DOTPROD_ARRAYS_API float **generateEmptyMatrix(int size);
DOTPROD_ARRAYS_API void freeMatrix(float **matrix);

#ifdef __cplusplus
}
#endif

#endif
