// Services through the local Service Control Manager, with full access to the
// manager and to the service.
#include "platform/services.h"

#include <utility>

#include "platform/win32/handles.h"

namespace qlx::platform {
namespace {

using win32::UniqueServiceHandle;

constexpr std::chrono::milliseconds kStatusPollInterval{250};

// 0 when the call succeeded, else the error it left, read before anything
// else can overwrite it.
uint32_t ErrorUnless(BOOL succeeded) { return succeeded ? 0 : GetLastError(); }

class Win32Service : public Service {
 public:
  explicit Win32Service(UniqueServiceHandle service) : service_(std::move(service)) {}

  uint32_t Stop() override {
    SERVICE_STATUS status{};
    return ErrorUnless(ControlService(service_.get(), SERVICE_CONTROL_STOP, &status));
  }

  uint32_t Start() override { return ErrorUnless(StartServiceA(service_.get(), 0, nullptr)); }

  void WaitWhileStopPending(std::chrono::milliseconds limit) override {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (IsStopPending() && std::chrono::steady_clock::now() < deadline) {
      Sleep(static_cast<DWORD>(kStatusPollInterval.count()));
    }
  }

 private:
  // False as well when the state cannot be read: there is nothing to wait for.
  bool IsStopPending() const {
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(service_.get(), &status)) return false;
    return status.dwCurrentState == SERVICE_STOP_PENDING;
  }

  UniqueServiceHandle service_;
};

class Win32ServiceManager : public ServiceManager {
 public:
  explicit Win32ServiceManager(UniqueServiceHandle manager) : manager_(std::move(manager)) {}

  std::unique_ptr<Service> OpenNamedService(const std::string& name, uint32_t* error) override {
    UniqueServiceHandle service(OpenServiceA(manager_.get(), name.c_str(), SERVICE_ALL_ACCESS));
    if (!service) {
      *error = GetLastError();
      return nullptr;
    }
    return std::make_unique<Win32Service>(std::move(service));
  }

 private:
  UniqueServiceHandle manager_;
};

class Win32Services : public Services {
 public:
  std::unique_ptr<ServiceManager> OpenManager(uint32_t* error) override {
    UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
      *error = GetLastError();
      return nullptr;
    }
    return std::make_unique<Win32ServiceManager>(std::move(manager));
  }
};

}  // namespace

Services& SystemServices() {
  static Win32Services services;
  return services;
}

}  // namespace qlx::platform
