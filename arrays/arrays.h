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
float *generateEmptyVector(int size);
int *generateEmptyIntVector(int size);
void freeVector(void *array);

#ifdef __cplusplus
}
#endif

#endif
