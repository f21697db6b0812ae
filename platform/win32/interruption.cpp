// Interruptions on Windows: the console's events through a console control
// handler, logoff and shutdown through a hidden top-level window on a thread
// of its own (a program that loads USER32 gets no console event for them,
// and a message-only window gets no broadcast). The program's thread is woken
// through a manual-reset event.
#include "platform/interruption.h"

#include <atomic>
#include <thread>

#include "platform/win32/handles.h"
#include "platform/win32/interruption.h"

namespace qlx::platform {
namespace {

constexpr char kWindowClass[] = "QLXPatchEndSession";

std::atomic<InterruptionHandler> installed_handler{nullptr};

const char* NameOf(DWORD control_type) {
  switch (control_type) {
    case CTRL_C_EVENT:
      return "Ctrl+C";
    case CTRL_BREAK_EVENT:
      return "Ctrl+Break";
    case CTRL_CLOSE_EVENT:
      return "console closed";
    case CTRL_LOGOFF_EVENT:
      return "logoff";
    case CTRL_SHUTDOWN_EVENT:
      return kShutdown;
    default:
      return nullptr;
  }
}

void Hand(const char* what, bool session_ending) {
  if (const InterruptionHandler handler = installed_handler.load()) handler(what, session_ending);
}

LRESULT CALLBACK EndSessionWindow(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_QUERYENDSESSION) return TRUE;
  if (message == WM_ENDSESSION) {
    // Once this returns, Windows may end the process at any moment.
    const bool logoff = (static_cast<DWORD>(lparam) & ENDSESSION_LOGOFF) != 0;
    if (wparam) Hand(logoff ? "logoff" : kShutdown, true);
    return 0;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

void RunEndSessionWindow() {
  WNDCLASSA window_class{};
  window_class.lpfnWndProc = EndSessionWindow;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.lpszClassName = kWindowClass;
  if (!RegisterClassA(&window_class)) return;
  // Never shown; it lives as long as the process.
  const win32::UniqueWindow window(CreateWindowExA(0, kWindowClass, "", WS_POPUP, 0, 0, 0, 0,
                                                   nullptr, nullptr, window_class.hInstance,
                                                   nullptr));
  MSG message{};
  while (window && GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
}

}  // namespace

HANDLE win32::InterruptionEvent() {
  static const HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  return event;
}

BOOL WINAPI win32::ConsoleControlHandler(DWORD control_type) noexcept {
  const char* what = NameOf(control_type);
  if (!what) return FALSE;
  Hand(what, control_type != CTRL_C_EVENT && control_type != CTRL_BREAK_EVENT);
  return TRUE;
}

void WakeProgramThread() { SetEvent(win32::InterruptionEvent()); }

bool WaitForInterruptions(std::chrono::milliseconds limit, int count) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + limit;
  while (Interruptions() < count) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    const HANDLE event = win32::InterruptionEvent();
    if (WaitForSingleObject(event, static_cast<DWORD>(left.count())) == WAIT_OBJECT_0) {
      ResetEvent(event);
    }
  }
  return true;
}

void HandleInterruptions(InterruptionHandler handler) {
  installed_handler.store(handler);
  win32::InterruptionEvent();
  SetConsoleCtrlHandler(win32::ConsoleControlHandler, TRUE);
  std::thread(RunEndSessionWindow).detach();
}

void EndAsInterrupted() { ExitProcess(STATUS_CONTROL_C_EXIT); }

}  // namespace qlx::platform
