// The service control manager kept in a text file of "Name=state" lines.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/services.h"
#include "platform/windows_codes.h"
#include "posix_test_support.h"

namespace qlx::posix_tests {
namespace {

using platform::kErrorAccessDenied;
using platform::kErrorServiceAlreadyRunning;
using platform::kErrorServiceDoesNotExist;
using platform::kErrorServiceNotActive;

const std::string kServicesText =
    "# services of this machine\n"
    "Spooler=running\n"
    "OV Quellmark=running\n"
    "Backup Agent = stopped\n";

class ServicesFileTest : public ::testing::Test {
 protected:
  // Opens the manager and the service.
  platform::Result<std::unique_ptr<platform::Service>> OpenNamedService(const std::string& name) {
    auto manager = platform::SystemServices().OpenManager();
    if (!manager) return platform::Failure{manager.error()};
    return (*manager)->OpenNamedService(name);
  }
  std::unique_ptr<platform::Service> OpenExisting(const std::string& name) {
    auto service = OpenNamedService(name);
    EXPECT_EQ(service.error(), 0u);
    return service ? std::move(*service) : nullptr;
  }
  uint32_t OpenError(const std::string& name) {
    const auto service = OpenNamedService(name);
    EXPECT_FALSE(service);
    return service.error();
  }

  ScratchDirectory directory_;
  std::string file_ = directory_ / "services";
  ScopedEnvironment variable_{"QLX_SERVICES_FILE", file_};
};

TEST_F(ServicesFileTest, StopAndStartMoveBetweenTheStatesWithWindowsCodes) {
  WriteBytes(file_, kServicesText);
  std::unique_ptr<platform::Service> service = OpenExisting("OV Quellmark");
  ASSERT_TRUE(service);

  EXPECT_EQ(service->Stop().error(), 0u);
  EXPECT_EQ(ReadBytes(file_),
            "# services of this machine\n"
            "Spooler=running\n"
            "OV Quellmark=stopped\n"
            "Backup Agent = stopped\n");
  EXPECT_EQ(service->Stop().error(), kErrorServiceNotActive);

  EXPECT_EQ(service->Start().error(), 0u);
  EXPECT_EQ(ReadBytes(file_), kServicesText);
  EXPECT_EQ(service->Start().error(), kErrorServiceAlreadyRunning);
}

TEST_F(ServicesFileTest, NamesIgnoreCaseAndTheBlanksAroundThem) {
  WriteBytes(file_, kServicesText);
  std::unique_ptr<platform::Service> service = OpenExisting("backup agent");
  ASSERT_TRUE(service);

  EXPECT_EQ(service->Start().error(), 0u);

  EXPECT_EQ(ReadBytes(file_),
            "# services of this machine\n"
            "Spooler=running\n"
            "OV Quellmark=running\n"
            "Backup Agent = running\n");
}

TEST_F(ServicesFileTest, UnknownServiceDoesNotExist) {
  WriteBytes(file_, kServicesText);
  EXPECT_EQ(OpenError("OV"), kErrorServiceDoesNotExist);
  EXPECT_EQ(OpenError("# services of this machine"), kErrorServiceDoesNotExist);

  fs::remove(file_);
  EXPECT_EQ(OpenError("OV Quellmark"), kErrorServiceDoesNotExist) << "missing file";
}

TEST_F(ServicesFileTest, ServiceRemovedAfterOpeningDoesNotExist) {
  WriteBytes(file_, kServicesText);
  std::unique_ptr<platform::Service> service = OpenExisting("OV Quellmark");
  ASSERT_TRUE(service);
  WriteBytes(file_, "Spooler=running\n");

  EXPECT_EQ(service->Stop().error(), kErrorServiceDoesNotExist);
}

TEST_F(ServicesFileTest, UnreadableFileDeniesTheManager) {
  fs::create_directory(file_);
  const auto manager = platform::SystemServices().OpenManager();

  EXPECT_FALSE(manager);
  EXPECT_EQ(manager.error(), kErrorAccessDenied);
}

// The state is written in place: a file only its group may write, in a
// directory that refuses changes, is one the account cannot change.
TEST_F(ServicesFileTest, FileThatCannotBeWrittenDeniesTheChange) {
  const fs::path locked = directory_.path() / "locked";
  fs::create_directory(locked);
  const std::string locked_file = (locked / "services").string();
  WriteBytes(locked_file, kServicesText);
  fs::permissions(locked_file, fs::perms::owner_read | fs::perms::group_read |
                                   fs::perms::group_write | fs::perms::others_read);
  ScopedEnvironment variable("QLX_SERVICES_FILE", locked_file);
  std::unique_ptr<platform::Service> service = OpenExisting("OV Quellmark");
  ASSERT_TRUE(service);
  ReadOnlyDirectory read_only(locked);
  ASSERT_TRUE(read_only.Refuses());

  EXPECT_EQ(service->Stop().error(), kErrorAccessDenied);

  EXPECT_EQ(ReadBytes(locked_file), kServicesText);
}

}  // namespace
}  // namespace qlx::posix_tests
