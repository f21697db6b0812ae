#include "host/service_control.h"

#include <chrono>
#include <memory>

#include "driver/patch_log.h"
#include "platform/platform.h"
#include "platform/services.h"
#include "platform/windows_codes.h"

namespace qlx {

const char* const ServiceName = "OV Quellmark";

namespace {

// Logs a refusal under the operation's name and gives its code back.
uint32_t Refused(const char* operation, uint32_t error) {
  LogSystemError(operation, error);
  return error;
}

// Opens the manager and the service, makes the request, and logs the first
// refusal under the operation's name. Handles close on every path.
template <typename Request>
uint32_t RequestServiceChange(const std::string& service_name, const char* operation,
                              Request request) {
  const auto manager = platform::Current().services->OpenManager();
  if (!manager) return Refused(operation, manager.error());
  const auto service = (*manager)->OpenNamedService(service_name);
  if (!service) return Refused(operation, service.error());
  const platform::Result<> outcome = request(**service);
  if (!outcome) return Refused(operation, outcome.error());
  return 0;
}

}  // namespace

uint32_t ServiceStop(const std::string& service_name) {
  return RequestServiceChange(service_name, "ServiceStop",
                              [](platform::Service& service) { return service.Stop(); });
}

uint32_t ServiceStart(const std::string& service_name) {
  return ServiceStartWaitingAtMost(service_name, kStopPendingLimit);
}

uint32_t ServiceStartWaitingAtMost(const std::string& service_name,
                                   std::chrono::milliseconds stop_pending_limit) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + stop_pending_limit;
  return RequestServiceChange(service_name, "ServiceStart", [&](platform::Service& service) {
    service.WaitWhileStopPending(stop_pending_limit);
    platform::Result<> started = service.Start();
    // A stop that the service had not begun when the state was read is under
    // way now: it is waited for and the start asked again, within the limit.
    while (!started && started.error() == platform::kErrorServiceAlreadyRunning &&
           service.StopPending() && Clock::now() < deadline) {
      service.WaitWhileStopPending(
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
      started = service.Start();
    }
    return started;
  });
}

}  // namespace qlx
