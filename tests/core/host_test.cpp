#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "driver/patch_log.h"
#include "fakes/sandbox.h"
#include "host/program_runner.h"
#include "host/service_control.h"
#include "host/tool_registration.h"

namespace qlx::testing {
namespace {

using ::testing::ElementsAre;

class ServiceControlTest : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    messages_.texts[5] = "Access is denied.\r\n";
    messages_.texts[1056] = "An instance of the service is already running.\r\n";
  }
};

TEST_F(ServiceControlTest, AcceptedRequestsLogNothing) {
  EXPECT_EQ(ServiceStop(ServiceName), 0u);
  EXPECT_EQ(ServiceStart(ServiceName), 0u);
  EXPECT_EQ(Log(), "");
}

TEST_F(ServiceControlTest, ARefusalIsLoggedOnceAndReturned) {
  EXPECT_EQ(ServiceStart(ServiceName), 1056u);
  EXPECT_EQ(Log(),
            "ServiceStart failed with error 1056: "
            "An instance of the service is already running.\r\n\n");
}

TEST_F(ServiceControlTest, WithoutRightsNothingElseIsTried) {
  services_.manager_error = 5;
  EXPECT_EQ(ServiceStop(ServiceName), 5u);
  EXPECT_TRUE(services_.requests.empty());
  EXPECT_EQ(Log(), "ServiceStop failed with error 5: Access is denied.\r\n\n");
}

TEST_F(ServiceControlTest, AStartWaitsForAStopStillUnderWay) {
  ServiceStop(ServiceName);
  services_.stop_pending_at_start = true;
  EXPECT_EQ(ServiceStart(ServiceName), 0u);
  EXPECT_THAT(services_.requests,
              ElementsAre("stop OV Quellmark", "wait 30000", "start OV Quellmark"));
}

TEST_F(SandboxTest, ProgramRunnerLogsOnlyFailuresToRun) {
  processes_.on_run = [](const std::string& line) {
    if (line == "missing") return platform::ProgramOutcome{true, 2};
    return platform::ProgramOutcome{false, 3};
  };
  messages_.texts[2] = "The system cannot find the file specified.\r\n";
  EXPECT_EQ(ExecuteProgram("child"), 3u);
  EXPECT_EQ(Log(), "");
  EXPECT_EQ(ExecuteProgram("missing"), 2u);
  EXPECT_EQ(Log(),
            "ExecuteProgram failed with error 2: "
            "The system cannot find the file specified.\r\n\n");
}

class ToolRegistrationTest : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    WriteFile("qlxtools.xml", "new definitions");
    WriteFile("host/Tools/qlxtools.xml", "old definitions");
    messages_.texts[2] = "The system cannot find the file specified.\r\n";
  }
  std::string Line(const char* action) {
    return std::string("cmd /c \"zqtool ") + action + " -f \"" + HostDirectory() +
           "\\Tools\\qlxtools.xml\"\" > null";
  }
};

TEST_F(ToolRegistrationTest, RemovesCopiesAndAddsTheDefinitions) {
  std::string installed_when_added;
  processes_.on_run = [&](const std::string& line) {
    if (line.find("-a") != std::string::npos)
      installed_when_added = ReadFile("host/Tools/qlxtools.xml");
    return platform::ProgramOutcome{};
  };
  EXPECT_TRUE(RefreshToolRegistration());
  EXPECT_THAT(processes_.hidden_runs, ElementsAre(Line("-r"), Line("-a")));
  EXPECT_EQ(installed_when_added, "new definitions");
  EXPECT_EQ(Log(), "");
}

TEST_F(ToolRegistrationTest, AFailedRemovalTouchesNothing) {
  processes_.on_run = [](const std::string&) { return platform::ProgramOutcome{false, 1}; };
  EXPECT_FALSE(RefreshToolRegistration());
  EXPECT_THAT(processes_.hidden_runs, ElementsAre(Line("-r")));
  EXPECT_EQ(ReadFile("host/Tools/qlxtools.xml"), "old definitions");
}

TEST_F(ToolRegistrationTest, AFailedAddAfterTheCopyIsAFailure) {
  processes_.on_run = [](const std::string& line) {
    return platform::ProgramOutcome{false, line.find("-a") != std::string::npos ? 1u : 0u};
  };
  EXPECT_FALSE(RefreshToolRegistration());
  EXPECT_EQ(ReadFile("host/Tools/qlxtools.xml"), "new definitions");
}

TEST_F(ToolRegistrationTest, AMissingNewFileIsLoggedAndFailsButTheToolsAreAddedAgain) {
  files_.Remove("qlxtools.xml");
  EXPECT_FALSE(RefreshToolRegistration());
  EXPECT_THAT(processes_.hidden_runs, ElementsAre(Line("-r"), Line("-a")));
  EXPECT_EQ(Log(),
            "RefreshToolRegistration failed with error 2: "
            "The system cannot find the file specified.\r\n\n");
  EXPECT_EQ(ReadFile("host/Tools/qlxtools.xml"), "old definitions");
}

TEST_F(SandboxTest, LogEntriesKeepTheirTextsAsTheyAre) {
  LogText("Stopping QLX service...");
  LogText("Successfully\n");
  LogModuleMessage("Module", "");
  LogModuleMessage("100% done", "50%s");
  LogSystemError("ServiceStop", 0);
  LogSystemError("Op", 4242);  // no system text for this code
  EXPECT_EQ(Log(),
            "Stopping QLX service...Successfully\n"
            "Module - \n"
            "100% done - 50%s\n"
            "ServiceStopOp failed with error 4242: Unknown error\r\n\n");
}

}  // namespace
}  // namespace qlx::testing
