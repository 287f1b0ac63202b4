/* What the C comparison drivers share: a monotonic clock in seconds and the
 * median of their timed runs. */
#ifndef QUILLARC_BENCH_TIMING_H
#define QUILLARC_BENCH_TIMING_H

#include <stdlib.h>
#include <time.h>

static inline double Now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

static inline int CompareSeconds(const void* a, const void* b) {
    const double x = *(const double*)a, y = *(const double*)b;
    return (x > y) - (x < y);
}

/* Sorts seconds[0..n) (n >= 1) and returns their median. */
static inline double SortedMedian(double* seconds, int n) {
    qsort(seconds, (size_t)n, sizeof seconds[0], CompareSeconds);
    return n % 2 ? seconds[n / 2] : (seconds[n / 2 - 1] + seconds[n / 2]) / 2;
}

#endif
