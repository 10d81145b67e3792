// SPDX-License-Identifier: MIT
// dotprod-mpi LENGTH, started by mpirun: the dot product split over MPI
// processes (ranks), on one machine or several. Each rank builds only its
// own block of the two vectors, about 8 * LENGTH / ranks bytes, adds it in
// double, and rank 0 gets the sum of the blocks and alone prints.
#include <cstdint>
#include <cstdio>

#include <mpi.h>

#include <dotprod/arrays.h>
#include "common.h"
#include "program.h"

// Ends every rank with rank 0's status: mpirun reports one status, and a
// rank that left early would look like a crash.
static int finish(int status)
{
    MPI_Bcast(&status, 1, MPI_INT, 0, MPI_COMM_WORLD);
    MPI_Finalize();
    return status;
}

int main(int argc, char *argv[])
{
    MPI_Init(&argc, &argv);
    int rank, ranks;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    MPI_Comm_size(MPI_COMM_WORLD, &ranks);

    // Rank 0 reads the argument, so a bad one (or --version) gives a
    // single line; finish() hands its status to every rank.
    int n = rank == 0 ? parseLength("dotprod-mpi", argc, argv) : 0;
    MPI_Bcast(&n, 1, MPI_INT, 0, MPI_COMM_WORLD);
    if (n < 0)
        return finish(rank == 0 ? statusWithoutLength("dotprod-mpi", n) : 0);

    // Contiguous blocks whose sizes differ by one element at most.
    int first = (int)((std::int64_t)n * rank / ranks);
    int size = (int)((std::int64_t)n * (rank + 1) / ranks) - first;
    float *A = generateVectorPart(first, size);
    float *B = generateVectorPart(first, size);
    // The library has named each block it could not get, on that rank's
    // output; all ranks must learn of it to stop together.
    int built = A && B, allBuilt;
    MPI_Allreduce(&built, &allBuilt, 1, MPI_INT, MPI_LAND, MPI_COMM_WORLD);
    if (!allBuilt) {
        freeVector(A);
        freeVector(B);
        if (rank == 0)
            puts("Error when allocationg matrix");
        return finish(rank == 0 ? checkOutput("dotprod-mpi", 255) : 255);
    }

    // Timed: from the moment every rank has its blocks to the moment rank 0
    // holds the total, on rank 0's clock. The barrier starts all ranks
    // together (the last ones take longest to build theirs), and the
    // reduction cannot end before the slowest rank's sum has arrived, so
    // the time covers every rank's loop and the messages, not setup.
    MPI_Barrier(MPI_COMM_WORLD);
    double ini = seconds();
    // Each product is exact in double; simd lets the compiler keep several
    // partial sums, which only changes the last bits of a double sum.
    double part = 0.0, sum = 0.0;
#pragma omp simd reduction(+ : part)
    for (std::int64_t k = 0; k < size; k++)
        part += (double)A[k] * B[k];
    MPI_Reduce(&part, &sum, 1, MPI_DOUBLE, MPI_SUM, 0, MPI_COMM_WORLD);
    double fin = seconds();

    freeVector(A);
    freeVector(B);
    if (rank != 0)
        return finish(0);
    printf("Resultado: %f\n", sum);
    printf("Tiempo: %.9f\n", fin - ini);
    return finish(checkOutput("dotprod-mpi", 0));
}
