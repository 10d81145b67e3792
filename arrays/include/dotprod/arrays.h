/* SPDX-License-Identifier: MIT */
/* Vectors and square matrices of pseudo-random floats: allocation, filling
 * and release. Usable from C and C++. */
#ifndef DOTPROD_ARRAYS_H
#define DOTPROD_ARRAYS_H

#ifdef __cplusplus
extern "C" {
#endif

/* Each allocating function returns null after writing one line to standard
 * output when the memory cannot be had. The generate functions reseed rand()
 * with 0 first, so their values depend only on size (for one libc). */

float *generateVector(int size);
/* Elements first .. first+size-1 of the sequence generateVector gives, so
 * that a process can build its share of a long vector alone. It makes and
 * discards the first draws, so its time grows with first + size. A negative
 * first fails like a negative size: the line names size, the result is null. */
float *generateVectorPart(int first, int size);
float *generateEmptyVector(int size);
int *generateEmptyIntVector(int size);
void freeVector(void *array);

/* A size x size matrix is a table of row pointers into one row-major block
 * of floats; row 0 must keep pointing at the block's start until freeMatrix. */
float **generateMatrix(int size);
float **generateEmptyMatrix(int size);
void freeMatrix(float **matrix);

#ifdef __cplusplus
}
#endif

#endif
