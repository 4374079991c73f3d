#include "engine/reconstruction/local/parallel_for.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <opencv2/core.hpp>

namespace pelorin::engine::local {

namespace {

std::mutex faultLock;
ParallelFault installedFault;

// The seam the environment asks for, read once.
const ParallelFault& environmentFault() {
    static const ParallelFault fault = []() -> ParallelFault {
        const char* setting = std::getenv("PELORIN_PARALLEL_FAULT");
        if (!setting || !*setting) return {};
        std::string loop(setting);
        bool memory = false;
        if (const auto colon = loop.find(':'); colon != std::string::npos) {
            memory = loop.substr(colon + 1) == "memory";
            loop.resize(colon);
        }
        return [loop, memory](std::string_view name, std::size_t) {
            if (name != loop) return;
            if (memory) throw std::bad_alloc();
            throw std::runtime_error("a fault was injected into " + loop);
        };
    }();
    return fault;
}

ParallelFault currentFault() {
    std::lock_guard guard(faultLock);
    return installedFault ? installedFault : environmentFault();
}

}  // namespace

void setParallelFault(ParallelFault fault) {
    std::lock_guard guard(faultLock);
    installedFault = std::move(fault);
}

void parallelFor(std::string_view name, std::size_t count, unsigned threads,
                 const std::function<void(std::size_t item, unsigned worker)>& body,
                 const std::stop_token& stop) {
    const ParallelFault fault = currentFault();
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::exception_ptr failure;
    const auto work = [&](unsigned worker) {
        try {
            for (std::size_t item; !failed && !stop.stop_requested() && (item = next++) < count;) {
                if (fault) fault(name, item);
                body(item, worker);
            }
        } catch (...) {
            // Only the first failure is kept; it is handed over once the workers have ended.
            if (!failed.exchange(true)) failure = std::current_exception();
        }
    };
    const unsigned used = unsigned(std::clamp<std::size_t>(count, 1, std::max(1u, threads)));
    {
        std::vector<std::jthread> workers;
        for (unsigned t = 1; t < used; ++t) workers.emplace_back(work, t);
        work(0);
    }
    if (failure) std::rethrow_exception(failure);
}

OpenCvThreadsPerWorker::OpenCvThreadsPerWorker() : saved_(cv::getNumThreads()) {
    cv::setNumThreads(1);
}

OpenCvThreadsPerWorker::~OpenCvThreadsPerWorker() {
    cv::setNumThreads(saved_);
}

}  // namespace pelorin::engine::local
