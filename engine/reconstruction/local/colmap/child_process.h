#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "common/expected.h"

namespace pelorin::engine {

struct ChildOptions {
    // Working directory of the child; the caller's when empty.
    std::filesystem::path workingDirectory;
    // Variables added to (or replacing those in) the caller's environment.
    std::vector<std::pair<std::string, std::string>> environment;
    // How long a cancelled child may take to end after SIGTERM before its group gets SIGKILL.
    std::chrono::milliseconds termGrace{1000};
    // How many of the last output lines the result keeps, for error messages.
    std::size_t keptLines = 20;
};

struct ChildResult {
    // The exit status when the child exited, else nothing (killed by a signal).
    std::optional<int> exitCode;
    // The stop token was triggered and the child's process group was ended.
    bool cancelled = false;
    // The last lines of standard output and standard error, oldest first.
    std::vector<std::string> lastLines;

    bool succeeded() const { return !cancelled && exitCode == 0; }
};

// Runs a program in a process group of its own, with standard output and error merged and
// passed on line by line. A stop request ends the whole group (the program and anything it
// started): SIGTERM, then SIGKILL after the grace period. Fails only when the program cannot
// be started.
pelorin::Expected<ChildResult, std::string> runChild(
    const std::vector<std::string>& arguments, const ChildOptions& options,
    const std::function<void(std::string_view line)>& onLine, std::stop_token stop);

}  // namespace pelorin::engine
