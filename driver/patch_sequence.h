#pragma once

namespace qlx {

// The whole patch: stops the add-on's service, adds the two server models to
// its database, records the new version, refreshes the tool registration and
// starts the service again, logging every step. Nothing escapes it, and the
// service start and the final message are always reached unless the run is
// interrupted. Returns 0, or kInterruptedStatus after the clean-up of an
// interrupted run.
int RunPatch();

class RunControl;
// RunPatch with the given run (tests run several in one process).
int RunPatch(RunControl& run);

}  // namespace qlx
