#include "tests/support/process_state.h"

#include <signal.h>

#include <fstream>
#include <iterator>
#include <string>

namespace pelorin::testing {

bool isRunning(pid_t pid) {
    if (pid <= 0 || kill(pid, 0) != 0) return false;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    const std::string text((std::istreambuf_iterator<char>(stat)), {});
    // The state follows the command name, which is in parentheses and may hold anything.
    const auto close = text.rfind(')');
    return close == std::string::npos || close + 2 >= text.size() || text[close + 2] != 'Z';
}

}  // namespace pelorin::testing
