// Services through the local Service Control Manager, with full access to the
// manager and to the service.
#include "platform/services.h"

#include <utility>
#include <vector>

#include "platform/win32/handles.h"

namespace qlx::platform {
namespace {

using win32::UniqueServiceHandle;

constexpr std::chrono::milliseconds kStatusPollInterval{250};

// The outcome of a call that failed when it returned FALSE: the error it
// left, read before anything else can overwrite it.
Result<> OutcomeOf(BOOL succeeded) {
  if (succeeded) return {};
  return Failure{GetLastError()};
}

class Win32Service : public Service {
 public:
  explicit Win32Service(UniqueServiceHandle service) : service_(std::move(service)) {}

  Result<> Stop() override {
    SERVICE_STATUS status{};
    return OutcomeOf(ControlService(service_.get(), SERVICE_CONTROL_STOP, &status));
  }

  Result<> Start() override { return OutcomeOf(StartServiceA(service_.get(), 0, nullptr)); }

  void WaitWhileStopPending(std::chrono::milliseconds limit) override {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (StopPending() && std::chrono::steady_clock::now() < deadline) {
      Sleep(static_cast<DWORD>(kStatusPollInterval.count()));
    }
  }

  Result<ServiceStatus> Status() override {
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(service_.get(), &status)) return Failure{GetLastError()};
    return ServiceStatus{StateOf(status.dwCurrentState), StartType() == SERVICE_DISABLED};
  }

  // False as well when the state cannot be read: there is nothing to wait for.
  bool StopPending() override {
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(service_.get(), &status)) return false;
    return status.dwCurrentState == SERVICE_STOP_PENDING;
  }

 private:
  static ServiceState StateOf(DWORD state) {
    switch (state) {
      case SERVICE_STOPPED:
        return ServiceState::kStopped;
      case SERVICE_START_PENDING:
        return ServiceState::kStartPending;
      case SERVICE_STOP_PENDING:
        return ServiceState::kStopPending;
      case SERVICE_RUNNING:
        return ServiceState::kRunning;
      default:
        return ServiceState::kOther;
    }
  }

  // The start type; SERVICE_DEMAND_START when it cannot be read.
  DWORD StartType() const {
    DWORD needed = 0;
    QueryServiceConfigA(service_.get(), nullptr, 0, &needed);
    std::vector<unsigned char> buffer(needed);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
    if (needed == 0 || !QueryServiceConfigA(service_.get(), config, needed, &needed)) {
      return SERVICE_DEMAND_START;
    }
    return config->dwStartType;
  }

  UniqueServiceHandle service_;
};

class Win32ServiceManager : public ServiceManager {
 public:
  explicit Win32ServiceManager(UniqueServiceHandle manager) : manager_(std::move(manager)) {}

  Result<std::unique_ptr<Service>> OpenNamedService(const std::string& name) override {
    UniqueServiceHandle service(OpenServiceA(manager_.get(), name.c_str(), SERVICE_ALL_ACCESS));
    if (!service) return Failure{GetLastError()};
    return std::unique_ptr<Service>(std::make_unique<Win32Service>(std::move(service)));
  }

 private:
  UniqueServiceHandle manager_;
};

class Win32Services : public Services {
 public:
  Result<std::unique_ptr<ServiceManager>> OpenManager() override {
    UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) return Failure{GetLastError()};
    return std::unique_ptr<ServiceManager>(
        std::make_unique<Win32ServiceManager>(std::move(manager)));
  }
};

}  // namespace

Services& SystemServices() {
  static Win32Services services;
  return services;
}

}  // namespace qlx::platform
