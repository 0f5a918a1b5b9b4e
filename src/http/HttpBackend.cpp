#include "http/HttpBackend.h"

void LatencyHistogram::Observe(double seconds) {
    std::size_t bucket = 0;
    while (bucket < BOUNDS.size() && seconds > BOUNDS[bucket]) ++bucket;
    ++counts[bucket];
    sum += seconds;
    ++count;
}
