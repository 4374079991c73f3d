#pragma once

#include <sys/types.h>

namespace pelorin::testing {

// The process exists and is not a zombie: a killed child's zombie may wait a long time for a
// parent that never reaps it (a container's init, say), and it runs nothing.
bool isRunning(pid_t pid);

}  // namespace pelorin::testing
