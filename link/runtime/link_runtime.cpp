#include "link/runtime/link_runtime.h"

#include <algorithm>

namespace pelorin::link {

LinkRuntime::LinkRuntime(unsigned threads) : work_(asio::make_work_guard(context_)) {
    threads = std::max(threads, 1u);
    threads_.reserve(threads);
    for (unsigned i = 0; i < threads; ++i) {
        threads_.emplace_back([this] {
            // A handler that throws must not take every other connection with it: the thread
            // goes back to serving the rest.
            while (true) {
                try {
                    context_.run();
                    return;
                } catch (...) {
                }
            }
        });
    }
}

LinkRuntime::~LinkRuntime() {
    work_.reset();
    context_.stop();
    for (auto& thread : threads_) thread.join();
}

unsigned LinkRuntime::defaultThreadCount() {
    return std::clamp(std::thread::hardware_concurrency(), 2u, 4u);
}

}  // namespace pelorin::link
