#include "link/transport/link_runtime.h"

#include <algorithm>

namespace pelorin::link {

LinkRuntime::LinkRuntime(unsigned threads) : work_(asio::make_work_guard(context_)) {
    threads = std::max(threads, 1u);
    threads_.reserve(threads);
    for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { context_.run(); });
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
