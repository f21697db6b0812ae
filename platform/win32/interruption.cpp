#include "platform/interruption.h"

#include <atomic>

#include "platform/win32/interruption.h"

namespace qlx::platform {
namespace {

std::atomic<InterruptionHandler> installed_handler{nullptr};

const char* NameOf(DWORD control_type) {
  switch (control_type) {
    case CTRL_C_EVENT:
      return "Ctrl+C";
    case CTRL_BREAK_EVENT:
      return "Ctrl+Break";
    case CTRL_CLOSE_EVENT:
      return "console closed";
    default:
      return nullptr;
  }
}

}  // namespace

namespace win32 {

BOOL WINAPI ConsoleControlHandler(DWORD control_type) noexcept {
  // No exception may unwind into kernel32's frames.
  try {
    const char* what = NameOf(control_type);
    const InterruptionHandler handler = installed_handler.load();
    if (!what || !handler) return FALSE;
    // A finished run is left to end as it is, with its own exit status.
    return handler(what, control_type == CTRL_CLOSE_EVENT) ? FALSE : TRUE;
  } catch (...) {
    return FALSE;
  }
}

}  // namespace win32

void HandleInterruptions(InterruptionHandler handler) {
  installed_handler.store(handler);
  SetConsoleCtrlHandler(win32::ConsoleControlHandler, TRUE);
}

}  // namespace qlx::platform
