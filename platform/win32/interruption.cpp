// The console's events come to a console control handler; logoff and shutdown
// come to a program that loads USER32 only as messages to a hidden top-level
// window (a message-only one gets no broadcasts), on a thread of its own.
#include "platform/win32/interruption.h"

#include <thread>

#include "platform/interruption.h"
#include "platform/text.h"
#include "platform/win32/handles.h"

namespace qlx::platform {
namespace {

constexpr NumberText<DWORD> kEvents[] = {{CTRL_C_EVENT, "Ctrl+C"},
                                         {CTRL_BREAK_EVENT, "Ctrl+Break"},
                                         {CTRL_CLOSE_EVENT, "console closed"},
                                         {CTRL_LOGOFF_EVENT, "logoff"},
                                         {CTRL_SHUTDOWN_EVENT, kShutdown}};
// Set before anything can call it.
InterruptionHandler installed = nullptr;

LRESULT CALLBACK EndSessionWindow(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_QUERYENDSESSION) return TRUE;
  if (message != WM_ENDSESSION) return DefWindowProcA(window, message, wparam, lparam);
  // Once this returns, Windows may end the process at any moment.
  const bool logoff = (static_cast<DWORD>(lparam) & ENDSESSION_LOGOFF) != 0;
  if (wparam) installed(logoff ? "logoff" : kShutdown, true);
  return 0;
}

void RunEndSessionWindow() {
  WNDCLASSA window_class{};
  window_class.lpfnWndProc = EndSessionWindow;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.lpszClassName = "QLXPatchEndSession";
  if (!RegisterClassA(&window_class)) return;
  const win32::UniqueWindow window(CreateWindowExA(0, window_class.lpszClassName, "", WS_POPUP, 0,
                                                   0, 0, 0, nullptr, nullptr,
                                                   window_class.hInstance, nullptr));
  MSG message{};
  while (window && GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
}

}  // namespace

HANDLE win32::InterruptionEvent() {
  static const HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  return event;
}

// TRUE: the program's thread, not the default handling, ends the process;
// Windows ends it once a closing console's handler returns.
static BOOL WINAPI ConsoleControlHandler(DWORD control_type) noexcept {
  const char* what = TextOfNumber(kEvents, control_type);
  if (!what) return FALSE;
  installed(what, control_type != CTRL_C_EVENT && control_type != CTRL_BREAK_EVENT);
  return TRUE;
}

void WakeProgramThread() { SetEvent(win32::InterruptionEvent()); }

void HandleInterruptions(InterruptionHandler handler) {
  installed = handler;
  SetConsoleCtrlHandler(ConsoleControlHandler, TRUE);
  std::thread(RunEndSessionWindow).detach();
}

void EndAsInterrupted() { ExitProcess(STATUS_CONTROL_C_EXIT); }

}  // namespace qlx::platform
