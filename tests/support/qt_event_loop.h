#pragma once

#include <QCoreApplication>

#include <chrono>
#include <functional>
#include <thread>

namespace pelorin::testing {

// Delivers main-thread events until the condition holds or the time is up; returns the
// condition.
inline bool waitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace pelorin::testing
