#include "host/service_control.h"

#include <chrono>
#include <memory>

#include "driver/patch_log.h"
#include "platform/platform.h"
#include "platform/services.h"

namespace qlx {

const char* const ServiceName = "OV Quellmark";

namespace {

// A start requested while a stop is still under way is refused, so the start
// waits this long for the stop to finish.
constexpr std::chrono::seconds kStopPendingLimit{30};

enum class Request { kStop, kStart };

// Opens the manager and the service, makes the request, and logs the first
// refusal under the operation's name. Handles close on every path.
uint32_t RequestServiceChange(const std::string& service_name, Request request,
                              const char* operation) {
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
  if (request == Request::kStop) {
    error = service->Stop();
  } else {
    service->WaitWhileStopPending(kStopPendingLimit);
    error = service->Start();
  }
  if (error != 0) LogSystemError(operation, error);
  return error;
}

}  // namespace

uint32_t ServiceStop(const std::string& service_name) {
  return RequestServiceChange(service_name, Request::kStop, "ServiceStop");
}

uint32_t ServiceStart(const std::string& service_name) {
  return RequestServiceChange(service_name, Request::kStart, "ServiceStart");
}

}  // namespace qlx
