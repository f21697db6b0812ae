#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/result.h"

namespace qlx::platform {

// What the service manager reports of a service.
enum class ServiceState { kStopped, kStartPending, kStopPending, kRunning, kOther };
struct ServiceStatus {
  ServiceState state = ServiceState::kOther;
  bool disabled = false;  // its start type forbids a start
};

// An open service handle (all access); closed when destroyed. A refused
// request fails with the Windows error code of the refusal.
class Service {
 public:
  virtual ~Service() = default;
  virtual Result<> Stop() = 0;
  virtual Result<> Start() = 0;
  // Returns once the service no longer reports a stop in progress, or when the
  // limit has passed.
  virtual void WaitWhileStopPending(std::chrono::milliseconds limit) = 0;
  // True while the service reports a stop in progress.
  virtual bool StopPending() = 0;
  // Its state and whether it is disabled, read without changing anything.
  virtual Result<ServiceStatus> Status() = 0;
};

// An open handle to the local service control manager (all access).
class ServiceManager {
 public:
  virtual ~ServiceManager() = default;
  virtual Result<std::unique_ptr<Service>> OpenNamedService(const std::string& name) = 0;
};

class Services {
 public:
  virtual ~Services() = default;
  // The local service control manager.
  virtual Result<std::unique_ptr<ServiceManager>> OpenManager() = 0;
};

Services& SystemServices();

}  // namespace qlx::platform
