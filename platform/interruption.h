#pragma once

namespace qlx::platform {

// Called on a thread other than the program's own, with what ended the run:
// "Ctrl+C", "Ctrl+Break" or "console closed" on Windows, "SIGINT", "SIGTERM"
// or "SIGHUP" on Linux. `console_closing` says that the system ends the
// process within seconds whatever the handler does (a closed console), and
// may come while another call is still under way. Returns true when the run
// ends as interrupted: the process then ends the way an interrupted process
// ends. False means the run had already finished, and the interruption is
// dropped: it changes neither the log nor the exit status. Must not throw.
using InterruptionHandler = bool (*)(const char* what, bool console_closing);

// Hands every interruption of the run to the handler. Call it first in main,
// before any thread exists: on Linux it blocks the signals in every thread and
// waits for them on a thread of its own, so no code of ours runs in a signal
// handler. A signal that the process was started with ignored (as under
// nohup) stays ignored. SIGPIPE is ignored from then on, so that a write to a
// closed pipe fails instead of ending the run. On Windows the console control
// handler stays installed for the life of the process.
void HandleInterruptions(InterruptionHandler handler);

}  // namespace qlx::platform
