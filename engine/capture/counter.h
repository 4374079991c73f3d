#pragma once

#include <mutex>

namespace pelorin::engine {

// A count shared between threads under its own lock: the masks made while the service pulls
// samples.
class Counter {
  public:
    void increment() {
        std::lock_guard guard(lock_);
        ++count_;
    }
    int count() const {
        std::lock_guard guard(lock_);
        return count_;
    }

  private:
    mutable std::mutex lock_;
    int count_ = 0;
};

}  // namespace pelorin::engine
