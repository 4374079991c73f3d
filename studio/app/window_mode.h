#pragma once

namespace pelorin::studio {

// The studio with its window: the job store and the phone link service as in the headless mode,
// and the Qt Quick window over them.
int runWindow(int argc, char* argv[]);

}  // namespace pelorin::studio
