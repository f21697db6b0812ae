// A Windows service that does nothing but run, for the tests that start and
// stop a real service. Installed with the binary path
//   "...\qlx_test_service.exe" [stop-delay-ms]
// it reports RUNNING once started; asked to stop, it reports STOP_PENDING,
// stays in that state for the stop delay (500 ms unless given), then reports
// STOPPED and ends.
#include <cstdlib>

#include "platform/win32/handles.h"

namespace {

using qlx::platform::win32::UniqueKernelHandle;

constexpr DWORD kDefaultStopDelayMs = 500;
constexpr DWORD kStartupWaitHintMs = 1000;

// The one service this process runs; the service control callbacks reach it
// through here or their context argument.
class TestService {
 public:
  explicit TestService(DWORD stop_delay_ms)
      : stop_delay_ms_(stop_delay_ms),
        stop_requested_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

  void Run(const char* name) {
    status_handle_ = RegisterServiceCtrlHandlerExA(name, &TestService::OnControl, this);
    if (status_handle_ == nullptr || !stop_requested_) return;
    Report(SERVICE_START_PENDING, kStartupWaitHintMs);
    Report(SERVICE_RUNNING, 0);
    WaitForSingleObject(stop_requested_.get(), INFINITE);
    Sleep(stop_delay_ms_);
    Report(SERVICE_STOPPED, 0);
  }

 private:
  static DWORD WINAPI OnControl(DWORD control, DWORD, void*, void* context) {
    auto* const service = static_cast<TestService*>(context);
    if (control == SERVICE_CONTROL_STOP) {
      service->Report(SERVICE_STOP_PENDING, service->stop_delay_ms_ + kStartupWaitHintMs);
      SetEvent(service->stop_requested_.get());
      return NO_ERROR;
    }
    if (control == SERVICE_CONTROL_INTERROGATE) return NO_ERROR;
    return ERROR_CALL_NOT_IMPLEMENTED;
  }

  void Report(DWORD state, DWORD wait_hint_ms) {
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    status.dwWin32ExitCode = NO_ERROR;
    status.dwCheckPoint = ++check_point_;
    status.dwWaitHint = wait_hint_ms;
    SetServiceStatus(status_handle_, &status);
  }

  const DWORD stop_delay_ms_;
  UniqueKernelHandle stop_requested_;
  // Not owned: the service control manager releases it when the service stops.
  SERVICE_STATUS_HANDLE status_handle_ = nullptr;
  DWORD check_point_ = 0;
};

DWORD g_stop_delay_ms = kDefaultStopDelayMs;

void WINAPI ServiceMain(DWORD argument_count, char** arguments) {
  const char* const name = argument_count > 0 ? arguments[0] : "";
  TestService service(g_stop_delay_ms);
  service.Run(name);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) g_stop_delay_ms = static_cast<DWORD>(std::strtoul(argv[1], nullptr, 10));
  // An own-process service: the dispatcher ignores the name in the table.
  char any_name[] = "";
  SERVICE_TABLE_ENTRYA services[] = {{any_name, &ServiceMain}, {nullptr, nullptr}};
  // Fails (1063) when the program is started from a console, not as a service.
  return StartServiceCtrlDispatcherA(services) ? 0 : static_cast<int>(GetLastError());
}
