#pragma once

#include <chrono>

#include "host/service_control.h"

namespace qlx {

class RunControl;

// What RunPatch gives for an interrupted run (STATUS_CONTROL_C_EXIT).
constexpr int kInterruptedStatus = static_cast<int>(0xC000013AU);

// The whole patch: stops the add-on's service, adds the two server models to
// its database, records the new version, refreshes the tool registration and
// starts the service again, logging every step. Nothing escapes it, and the
// service start and the final message are always reached unless the run is
// interrupted. Returns 0, or kInterruptedStatus after the clean-up of an
// interrupted run.
int RunPatch();
// RunPatch with the given run (tests run several in one process).
int RunPatch(RunControl& run);

// The service steps, each logged with its outcome: "Stopping QLX
// service..." (a stop that may succeed marks the service for the clean-up's
// start) and "Starting QLX service...".
void StopService(RunControl& run);
void StartService(std::chrono::milliseconds stop_pending_limit = kStopPendingLimit);

}  // namespace qlx
