// Counts every heap allocation of the process it is linked into: its
// malloc, calloc and realloc stand in for glibc's and pass each call on.
#ifndef DIO_BENCH_COUNT_ALLOCATIONS_H
#define DIO_BENCH_COUNT_ALLOCATIONS_H

unsigned long allocations_so_far();

#endif
