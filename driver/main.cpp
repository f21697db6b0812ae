#include "driver/patch_sequence.h"
#include "driver/run_control.h"
#include "platform/interruption.h"

// The patch takes no arguments; anything on the command line is ignored.
int main() {
  // First, before any thread exists: an interruption restores the service.
  qlx::platform::HandleInterruptions([](const char* what, bool console_closing) {
    return qlx::ThisRun().Interrupt(
        what, console_closing ? qlx::kClosedConsoleBounds : qlx::kInterruptionBounds);
  });
  return qlx::RunPatch();
}
