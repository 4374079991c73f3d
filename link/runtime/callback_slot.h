#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <utility>

namespace pelorin::link {

// An optional callback that the owner may set or clear from any thread while the object that
// calls it runs on its own queue. A call that has already begun finishes with the function it
// started with; later calls see the new one.
template <class... Args>
class CallbackSlot {
  public:
    using Function = std::function<void(Args...)>;

    CallbackSlot() = default;
    CallbackSlot(const CallbackSlot&) = delete;
    CallbackSlot& operator=(const CallbackSlot&) = delete;

    CallbackSlot& operator=(Function function) {
        auto shared = function ? std::make_shared<const Function>(std::move(function)) : nullptr;
        std::lock_guard lock(mutex_);
        function_ = std::move(shared);
        return *this;
    }
    CallbackSlot& operator=(std::nullptr_t) { return *this = Function(); }

    explicit operator bool() const {
        std::lock_guard lock(mutex_);
        return function_ != nullptr;
    }

    void operator()(Args... args) const {
        std::shared_ptr<const Function> function;
        {
            std::lock_guard lock(mutex_);
            function = function_;
        }
        if (function) (*function)(std::forward<Args>(args)...);
    }

  private:
    mutable std::mutex mutex_;
    std::shared_ptr<const Function> function_;
};

}  // namespace pelorin::link
