#pragma once

namespace qlx::platform {

// Called once, on a thread other than the program's own, with what ended the
// run: "Ctrl+C", "Ctrl+Break" or "console closed" on Windows, "SIGINT",
// "SIGTERM" or "SIGHUP" on Linux. When it returns, the process ends the way
// an interrupted process ends.
using InterruptionHandler = void (*)(const char* what);

// Hands every interruption of the run to the handler. Call it first in main,
// before any thread exists: on Linux it blocks the signals in every thread and
// waits for them on a thread of its own, so no code of ours runs in a signal
// handler. A signal that the process was started with ignored (as under
// nohup) stays ignored. SIGPIPE is ignored from then on, so that a write to a
// closed pipe fails instead of ending the run.
void HandleInterruptions(InterruptionHandler handler);

}  // namespace qlx::platform
