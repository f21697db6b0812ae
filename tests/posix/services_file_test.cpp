// The service control manager kept in a text file of "Name=state" lines.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/services.h"
#include "posix_test_support.h"

namespace qlx::posix_tests {
namespace {

constexpr uint32_t kAccessDenied = 5;
constexpr uint32_t kAlreadyRunning = 1056;
constexpr uint32_t kDoesNotExist = 1060;
constexpr uint32_t kNotActive = 1062;

const std::string kServicesText =
    "# services of this machine\n"
    "Spooler=running\n"
    "OV Quellmark=running\n"
    "Backup Agent = stopped\n";

class ServicesFileTest : public ::testing::Test {
 protected:
  // Opens the manager and the service; null with *error set when either fails.
  std::unique_ptr<platform::Service> OpenNamedService(const std::string& name, uint32_t* error) {
    std::unique_ptr<platform::ServiceManager> manager =
        platform::SystemServices().OpenManager(error);
    if (!manager) return nullptr;
    return manager->OpenNamedService(name, error);
  }
  std::unique_ptr<platform::Service> OpenExisting(const std::string& name) {
    uint32_t error = 0;
    std::unique_ptr<platform::Service> service = OpenNamedService(name, &error);
    EXPECT_EQ(error, 0u);
    return service;
  }
  uint32_t OpenError(const std::string& name) {
    uint32_t error = 0;
    EXPECT_FALSE(OpenNamedService(name, &error));
    return error;
  }

  ScratchDirectory directory_;
  std::string file_ = directory_ / "services";
  ScopedEnvironment variable_{"QLX_SERVICES_FILE", file_};
};

TEST_F(ServicesFileTest, StopAndStartMoveBetweenTheStatesWithWindowsCodes) {
  WriteBytes(file_, kServicesText);
  std::unique_ptr<platform::Service> service = OpenExisting("OV Quellmark");
  ASSERT_TRUE(service);

  EXPECT_EQ(service->Stop(), 0u);
  EXPECT_EQ(ReadBytes(file_),
            "# services of this machine\n"
            "Spooler=running\n"
            "OV Quellmark=stopped\n"
            "Backup Agent = stopped\n");
  EXPECT_EQ(service->Stop(), kNotActive);

  EXPECT_EQ(service->Start(), 0u);
  EXPECT_EQ(ReadBytes(file_), kServicesText);
  EXPECT_EQ(service->Start(), kAlreadyRunning);
}

TEST_F(ServicesFileTest, NamesIgnoreCaseAndTheBlanksAroundThem) {
  WriteBytes(file_, kServicesText);
  std::unique_ptr<platform::Service> service = OpenExisting("backup agent");
  ASSERT_TRUE(service);

  EXPECT_EQ(service->Start(), 0u);

  EXPECT_EQ(ReadBytes(file_),
            "# services of this machine\n"
            "Spooler=running\n"
            "OV Quellmark=running\n"
            "Backup Agent = running\n");
}

TEST_F(ServicesFileTest, UnknownServiceDoesNotExist) {
  WriteBytes(file_, kServicesText);
  EXPECT_EQ(OpenError("OV"), kDoesNotExist);
  EXPECT_EQ(OpenError("# services of this machine"), kDoesNotExist);

  fs::remove(file_);
  EXPECT_EQ(OpenError("OV Quellmark"), kDoesNotExist) << "missing file";
}

TEST_F(ServicesFileTest, ServiceRemovedAfterOpeningDoesNotExist) {
  WriteBytes(file_, kServicesText);
  std::unique_ptr<platform::Service> service = OpenExisting("OV Quellmark");
  ASSERT_TRUE(service);
  WriteBytes(file_, "Spooler=running\n");

  EXPECT_EQ(service->Stop(), kDoesNotExist);
}

TEST_F(ServicesFileTest, UnreadableFileDeniesTheManager) {
  fs::create_directory(file_);
  uint32_t error = 0;

  EXPECT_FALSE(platform::SystemServices().OpenManager(&error));

  EXPECT_EQ(error, kAccessDenied);
}

TEST_F(ServicesFileTest, FileThatCannotBeRewrittenDeniesTheChange) {
  const fs::path locked = directory_.path() / "locked";
  fs::create_directory(locked);
  const std::string locked_file = (locked / "services").string();
  WriteBytes(locked_file, kServicesText);
  ScopedEnvironment variable("QLX_SERVICES_FILE", locked_file);
  std::unique_ptr<platform::Service> service = OpenExisting("OV Quellmark");
  ASSERT_TRUE(service);
  ReadOnlyDirectory read_only(locked);
  ASSERT_TRUE(read_only.Refuses());

  EXPECT_EQ(service->Stop(), kAccessDenied);

  EXPECT_EQ(ReadBytes(locked_file), kServicesText);
}

}  // namespace
}  // namespace qlx::posix_tests
