#include "host/service_control.h"

#include <chrono>
#include <memory>

#include "driver/patch_log.h"
#include "platform/platform.h"
#include "platform/services.h"

namespace qlx {

const char* const ServiceName = "OV Quellmark";

namespace {

// Opens the manager and the service, makes the request, and logs the first
// refusal under the operation's name. Handles close on every path.
template <typename Request>
uint32_t RequestServiceChange(const std::string& service_name, const char* operation,
                              Request request) {
  uint32_t error = 0;
  std::unique_ptr<platform::ServiceManager> manager =
      platform::Current().services->OpenManager(&error);
  if (!manager) {
    LogSystemError(operation, error);
    return error;
  }
  std::unique_ptr<platform::Service> service = manager->OpenNamedService(service_name, &error);
  if (!service) {
    LogSystemError(operation, error);
    return error;
  }
  error = request(*service);
  if (error != 0) LogSystemError(operation, error);
  return error;
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
  return RequestServiceChange(service_name, "ServiceStart", [&](platform::Service& service) {
    service.WaitWhileStopPending(stop_pending_limit);
    return service.Start();
  });
}

}  // namespace qlx
