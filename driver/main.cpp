#include "driver/patch_sequence.h"
#include "driver/run_control.h"
#include "platform/interruption.h"

// The patch takes no arguments; anything on the command line is ignored.
int main() {
  // First, before any thread exists.
  qlx::platform::HandleInterruptions([](const char* what, bool session_ending) {
    qlx::ThisRun().OnInterruption(what, session_ending);
  });
  if (qlx::RunPatch() != 0) qlx::platform::EndAsInterrupted();
  return 0;
}
