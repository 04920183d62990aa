/* The hardware floor for one pass: a plain running sum, one rounded addition
   at a time in index order, so each addition waits for the previous one.
   Built with -ffp-contract=off and without -ffast-math, the compiler may not
   split it into several accumulators. */
#include <stddef.h>

double chain_sum(const double* values, size_t count) {
    double sum = 0.0;
    for (size_t i = 0; i < count; ++i) sum += values[i];
    return sum;
}
