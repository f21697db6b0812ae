#include "platform/services.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "driver/patch_sequence.h"
#include "driver/run_control.h"
#include "platform/interruption.h"
#include "platform/win32/handles.h"
#include "platform/windows_codes.h"
#include "win32_test_support.h"

namespace qlx::platform {
namespace {

using std::chrono::milliseconds;
using win32::UniqueServiceHandle;

constexpr char kServiceName[] = "Qlx Test Service";
// How long the test service stays in STOP_PENDING once asked to stop.
constexpr milliseconds kStopDelay{1500};
constexpr milliseconds kStateChangeLimit{20000};

std::string TestServiceCommandLine() {
  return "\"" + test::ExecutableDirectory() + "\\qlx_test_service.exe\" " +
         std::to_string(kStopDelay.count());
}

milliseconds Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start);
}

// Installs the test service for each test and removes it afterwards; reads
// its state through a handle of its own.
class ServicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    manager_.reset(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ASSERT_TRUE(manager_) << GetLastError();
    const std::string command_line = TestServiceCommandLine();
    service_.reset(CreateServiceA(manager_.get(), name_, name_, SERVICE_ALL_ACCESS,
                                  SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                  SERVICE_ERROR_NORMAL, command_line.c_str(), nullptr, nullptr,
                                  nullptr, nullptr, nullptr));
    ASSERT_TRUE(service_) << GetLastError();
  }

  void TearDown() override {
    if (!service_) return;
    SERVICE_STATUS status{};
    ControlService(service_.get(), SERVICE_CONTROL_STOP, &status);
    WaitForState(SERVICE_STOPPED);
    DeleteService(service_.get());
  }

  DWORD State() {
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(service_.get(), &status)) return 0;
    return status.dwCurrentState;
  }

  bool WaitForState(DWORD wanted) {
    const auto start = std::chrono::steady_clock::now();
    while (State() != wanted) {
      if (Since(start) > kStateChangeLimit) return false;
      Sleep(50);
    }
    return true;
  }

  std::unique_ptr<Service> OpenTestService() {
    auto manager = SystemServices().OpenManager();
    EXPECT_TRUE(manager) << manager.error();
    if (!manager) return nullptr;
    manager_under_test_ = std::move(*manager);
    auto service = manager_under_test_->OpenNamedService(name_);
    EXPECT_TRUE(service) << service.error();
    return service ? std::move(*service) : nullptr;
  }

  const char* name_ = kServiceName;
  UniqueServiceHandle manager_;
  UniqueServiceHandle service_;
  std::unique_ptr<ServiceManager> manager_under_test_;
};

TEST_F(ServicesTest, MissingServiceGivesServiceDoesNotExist) {
  const auto manager = SystemServices().OpenManager();
  ASSERT_TRUE(manager) << manager.error();
  EXPECT_EQ((*manager)->OpenNamedService("Qlx No Such Service").error(), kErrorServiceDoesNotExist);
}

TEST_F(ServicesTest, StartsAndStopsTheService) {
  std::unique_ptr<Service> service = OpenTestService();
  ASSERT_NE(service, nullptr);
  EXPECT_EQ(service->Stop().error(), kErrorServiceNotActive) << "never started";

  ASSERT_EQ(service->Start().error(), 0u);
  ASSERT_TRUE(WaitForState(SERVICE_RUNNING));
  EXPECT_EQ(service->Start().error(), kErrorServiceAlreadyRunning);

  ASSERT_EQ(service->Stop().error(), 0u);
  EXPECT_EQ(State(), static_cast<DWORD>(SERVICE_STOP_PENDING));
  ASSERT_TRUE(WaitForState(SERVICE_STOPPED));
  EXPECT_EQ(service->Stop().error(), kErrorServiceNotActive);
}

// The wait returns at once without a stop under way, gives up at its limit
// while one is, and otherwise returns once the stop has finished, after which
// the service starts again.
TEST_F(ServicesTest, WaitWhileStopPendingWaitsForTheStopToFinishOrTheLimit) {
  std::unique_ptr<Service> service = OpenTestService();
  ASSERT_NE(service, nullptr);
  auto wait_started = std::chrono::steady_clock::now();
  service->WaitWhileStopPending(kStateChangeLimit);
  EXPECT_LT(Since(wait_started), milliseconds(200)) << "no stop under way";

  ASSERT_EQ(service->Start().error(), 0u);
  ASSERT_TRUE(WaitForState(SERVICE_RUNNING));
  const auto stop_requested = std::chrono::steady_clock::now();
  ASSERT_EQ(service->Stop().error(), 0u);

  wait_started = std::chrono::steady_clock::now();
  service->WaitWhileStopPending(milliseconds(300));
  EXPECT_LT(Since(wait_started), kStopDelay - milliseconds(500));
  EXPECT_EQ(State(), static_cast<DWORD>(SERVICE_STOP_PENDING));

  service->WaitWhileStopPending(kStateChangeLimit);
  EXPECT_GE(Since(stop_requested), kStopDelay - milliseconds(300));
  EXPECT_NE(State(), static_cast<DWORD>(SERVICE_STOP_PENDING));

  EXPECT_EQ(service->Start().error(), 0u);
  EXPECT_TRUE(WaitForState(SERVICE_RUNNING));
}

// A Ctrl+C right after the run stopped the add-on's real service: the
// program's thread logs the interruption and starts the service again,
// waiting for the stop still under way. (The console's own events reach the
// handler in the Wine interruption scenarios.)
class InterruptedRunTest : public ServicesTest {
 protected:
  InterruptedRunTest() { name_ = "OV Quellmark"; }
};

TEST_F(InterruptedRunTest, CtrlCIsHandledAndTheCleanUpStartsTheServiceAgain) {
  const test::ScratchDirectory directory("qlx-interrupted");
  const test::ScopedCurrentDirectory current(directory.Path());
  ASSERT_TRUE(current.Changed());
  ASSERT_TRUE(StartServiceA(service_.get(), 0, nullptr));
  ASSERT_TRUE(WaitForState(SERVICE_RUNNING));
  RunControl run;
  run.Begin();
  StopService(run);  // still stopping when the start is asked for
  run.OnInterruption("Ctrl+C", false);
  run.EndInterrupted();
  // The later tests' children may run again.
  BeginRun();

  EXPECT_TRUE(WaitForState(SERVICE_RUNNING));
  const std::string log = test::ReadBinaryFile(directory.File("QLX_patch.log"));
  const std::string ending =
      "QLXPatch - Run interrupted (Ctrl+C)\r\nStarting QLX service...Successfully\r\n";
  ASSERT_GE(log.size(), ending.size());
  EXPECT_EQ(log.substr(log.size() - ending.size()), ending) << log;
}

}  // namespace
}  // namespace qlx::platform
