#pragma once

namespace pelorin::studio {

class JobStore;
class StudioLink;
struct StudioJob;

// What the studio prints on start, with or without its window: the jobs folder, whether this
// computer can build models, the studio name, pairing code and fingerprint, the jobs loaded; and,
// once the server listens, its port and the pairing link (again after each change of port or
// code).
void printStartup(const JobStore& store, const StudioLink& service);
void reportListening(StudioLink& service);
// One line for a job: id, phase, percentage, photos, name, stage and message.
void printJob(const StudioJob& job);

}  // namespace pelorin::studio
