#pragma once

namespace qlx::platform::posix {

// Readable once an interruption has come since the last drain: a child's
// wait polls it beside the child. Only the program's thread drains it.
int InterruptionFd();
void DrainInterruptions();

}  // namespace qlx::platform::posix
