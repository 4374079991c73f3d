#pragma once

namespace pelorin::studio {

// The studio without a window, for servers and end-to-end tests: the job store, the job runner
// and the phone link service, reporting on the terminal what phones need (the pairing code, port,
// fingerprint and pairing link) and every change of a job, until interrupted.
int runHeadless(int argc, char* argv[]);

}  // namespace pelorin::studio
