#pragma once

#include <sys/types.h>

#include <string>

namespace pelorin::testing {

// The process exists and is not a zombie: a killed child's zombie may wait a long time for a
// parent that never reaps it (a container's init, say), and it runs nothing.
bool isRunning(pid_t pid);

// Runs a shell command; its exit status and standard output.
struct CommandResult {
    int status = -1;
    std::string output;
};
CommandResult runCommand(const std::string& command);

}  // namespace pelorin::testing
