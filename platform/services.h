#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace qlx::platform {

// An open service handle (all access); closed when destroyed. Every request
// returns 0 or the Windows error code of the refusal.
class Service {
 public:
  virtual ~Service() = default;
  virtual uint32_t Stop() = 0;
  virtual uint32_t Start() = 0;
  // Returns once the service no longer reports a stop in progress, or when the
  // limit has passed.
  virtual void WaitWhileStopPending(std::chrono::milliseconds limit) = 0;
};

// An open handle to the local service control manager (all access).
class ServiceManager {
 public:
  virtual ~ServiceManager() = default;
  // The service, or null with *error set to the Windows error code.
  virtual std::unique_ptr<Service> OpenNamedService(const std::string& name, uint32_t* error) = 0;
};

class Services {
 public:
  virtual ~Services() = default;
  // The local service control manager, or null with *error set.
  virtual std::unique_ptr<ServiceManager> OpenManager(uint32_t* error) = 0;
};

Services& SystemServices();

}  // namespace qlx::platform
