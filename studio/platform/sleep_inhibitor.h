#pragma once

#include <memory>
#include <string>

namespace pelorin::studio {

// Keeps the computer from idle sleep for as long as the returned handle lives, through logind's
// inhibitor locks on the system bus. Nothing (and no wait beyond two seconds) when no logind
// answers: the work goes on without it.
std::shared_ptr<void> inhibitIdleSleep(const std::string& reason);

}  // namespace pelorin::studio
