#pragma once

#include <algorithm>
#include <chrono>

namespace pelorin::bench {

// The shortest wall time, in seconds, of `rounds` runs of `body`: the figure least disturbed by
// whatever else the machine is doing.
template <class F>
double bestSeconds(int rounds, F&& body) {
    double best = 1e9;
    for (int i = 0; i < rounds; ++i) {
        const auto start = std::chrono::steady_clock::now();
        body();
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

}  // namespace pelorin::bench
