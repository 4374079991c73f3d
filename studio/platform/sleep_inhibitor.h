#pragma once

#include <memory>
#include <string>

namespace pelorin::studio {

// Keeps the computer from idle sleep for as long as the returned handle lives, through logind's
// inhibitor locks on the system bus. Returns at once: the lock is taken when logind answers,
// and without a bus or a logind the work goes on without it.
std::shared_ptr<void> inhibitIdleSleep(const std::string& reason);

}  // namespace pelorin::studio
