#pragma once

namespace qlx::platform::posix {

// Readable after an interruption until drained; a child's wait polls it.
int InterruptionFd();
void DrainInterruptions();

}  // namespace qlx::platform::posix
