// dio-check on generated reports (check_bench.cpp).
#ifndef DIO_BENCH_CHECK_BENCH_H
#define DIO_BENCH_CHECK_BENCH_H

// Prints lines per second and peak memory; non-zero if dio-check failed.
int bench_check();

#endif
