#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "driver/patch_sequence.h"
#include "driver/run_control.h"
#include "fakes/sandbox.h"
#include "host/service_control.h"
#include "platform/interruption.h"
#include "platform/windows_codes.h"

namespace qlx::testing {
namespace {

constexpr char kFirstStatement[] =
    "INSERT INTO Supported_Servers (Model_Name, Model_Support, Max_Processors, "
    "Hyper_Threading_Support)\tVALUES ('TX540A1', 'TX540A1x', 2 , 1)";
constexpr char kSecondStatement[] =
    "INSERT INTO Supported_Servers (Model_Name, Model_Support, Max_Processors, "
    "Hyper_Threading_Support)\tVALUES ('TX520A1', 'TX520A1x', 2 , 1)";

constexpr char kSuccessfulRun[] =
    "Updating QLX database...\n"
    "Stopping QLX service...Successfully\n"
    "Starting updation...\n"
    "Successfully\n"
    "Successfully\n"
    "Updating QLX version...Successfully\n"
    "Starting QLX service...Successfully\n"
    "QLX database updation completed\n"
    "\n";

class PatchSequenceTest : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    WriteFile("host/config/globalsettings.props", "dbType=SQLServer\n");
    WriteFile("host/config/database.props", "ov.Database.hostName=DBSRV\n");
    WriteFile("qlxtools.xml", "<tools/>");
    messages_.texts[1060] = "The specified service does not exist as an installed service.\r\n";
    messages_.texts[1062] = "The service has not been started.\r\n";
  }
};

TEST_F(PatchSequenceTest, SuccessfulRunLogsNineLinesAndDoesEveryStep) {
  EXPECT_EQ(RunPatch(), 0);

  EXPECT_EQ(Log(), kSuccessfulRun);
  EXPECT_THAT(services_.requests,
              ::testing::ElementsAre("stop OV Quellmark", "wait 30000", "start OV Quellmark"));
  EXPECT_THAT(database_.calls, ::testing::Contains(std::string("Execute ") + kFirstStatement));
  EXPECT_EQ(registry_.Text(kAddOnKey, "Build"), "4.3.1");
  EXPECT_EQ(registry_.Text(kAddOnKey, "Version"), "4.3.1");
  EXPECT_EQ(registry_.Text(kUninstallKey, "DisplayVersion"), "4.3.1");
  EXPECT_EQ(processes_.hidden_runs.size(), 2u);
}

TEST_F(PatchSequenceTest, StatementsRunInOrderAndTheConnectionIsClosedAfterThem) {
  RunPatch();
  std::vector<std::string> statements_and_close;
  for (const std::string& call : database_.calls) {
    if (call.rfind("Execute", 0) == 0 || call == "Close") statements_and_close.push_back(call);
  }
  EXPECT_THAT(statements_and_close,
              ::testing::ElementsAre(std::string("Execute ") + kFirstStatement,
                                     std::string("Execute ") + kSecondStatement, "Close"));
  // The session is destroyed last: what it held is released, not closed again.
  EXPECT_EQ(database_.calls.back(), "release connection");
}

TEST_F(PatchSequenceTest, AStoppedServiceIsReportedAndStillStartedAtTheEnd) {
  services_.running["OV Quellmark"] = false;
  RunPatch();
  EXPECT_EQ(Log(),
            "Updating QLX database...\n"
            "Stopping QLX service...ServiceStop failed with error 1062: "
            "The service has not been started.\r\n\n"
            "Failed\n"
            "Starting updation...\n"
            "Successfully\n"
            "Successfully\n"
            "Updating QLX version...Successfully\n"
            "Starting QLX service...Successfully\n"
            "QLX database updation completed\n\n");
  EXPECT_TRUE(services_.running["OV Quellmark"]);
}

TEST_F(PatchSequenceTest, AMissingServiceFailsBothRequests) {
  services_.running.clear();
  RunPatch();
  const std::string entry =
      "failed with error 1060: The specified service does not exist as an installed service.\r\n\n";
  EXPECT_EQ(Log(),
            "Updating QLX database...\n"
            "Stopping QLX service...ServiceStop " +
                entry +
                "Failed\n"
                "Starting updation...\n"
                "Successfully\n"
                "Successfully\n"
                "Updating QLX version...Successfully\n"
                "Starting QLX service...ServiceStart " +
                entry +
                "Failed\n"
                "QLX database updation completed\n\n");
}

TEST_F(PatchSequenceTest, AnUnreachableDatabaseSkipsStatementsAndVersionButStartsTheService) {
  database_.failures.emplace("Open", platform::ComError(platform::kEFail, "Login failed"));
  EXPECT_EQ(RunPatch(), 0);
  EXPECT_EQ(Log(),
            "Updating QLX database...\n"
            "Stopping QLX service...Successfully\n"
            "KTRDatabaseInterface - OpenGlobalConnection failed\n"
            "OpenGlocalConnection failed.\n"
            "Error = 5\n"
            "Message = Unknown error 0x80004005\n"
            "Description = Login failed\n"
            "Failed to open database connection\n"
            "Starting QLX service...Successfully\n"
            "QLX database updation completed\n\n");
  EXPECT_EQ(registry_.Text(kAddOnKey, "Build"), "4.2.0.1234");
  EXPECT_TRUE(processes_.hidden_runs.empty());
  EXPECT_TRUE(services_.running["OV Quellmark"]);
}

TEST_F(PatchSequenceTest, RejectedStatementsStillLetTheVersionStepRun) {
  const platform::ComError duplicate(static_cast<int32_t>(0x80040E2F), "duplicate key");
  database_.failures.emplace(kFirstStatement, duplicate);
  database_.failures.emplace(kSecondStatement, duplicate);
  RunPatch();
  const std::string entry =
      "ExecuteQuery failed.\nError = 47\nMessage = IDispatch error #3119\n"
      "Description = duplicate key\nQuery = ";
  EXPECT_EQ(Log(), std::string("Updating QLX database...\n"
                               "Stopping QLX service...Successfully\n"
                               "Starting updation...\n") +
                       entry + kFirstStatement + "\nFailed\n" + entry + kSecondStatement +
                       "\nFailed\n"
                       "Updating QLX version...Successfully\n"
                       "Starting QLX service...Successfully\n"
                       "QLX database updation completed\n\n");
  EXPECT_EQ(registry_.Text(kAddOnKey, "Build"), "4.3.1");
}

TEST_F(PatchSequenceTest, AMissingBuildValueStopsTheVersionStepAtOnce) {
  registry_ = FakeRegistry();
  registry_.SetString(kHostKey, "InstallPath", HostDirectory());
  registry_.SetString(kAddOnKey, "ExtensionBase", AddOnDirectory());
  registry_.SetString(kAddOnKey, "Version", "4.2.0");
  registry_.SetString(kUninstallKey, "DisplayVersion", "4.2.0");
  RunPatch();
  EXPECT_THAT(Log(), ::testing::HasSubstr("Updating QLX version...Failed\n"));
  EXPECT_EQ(registry_.Text(kAddOnKey, "Version"), "4.2.0");
  EXPECT_EQ(registry_.Text(kUninstallKey, "DisplayVersion"), "4.2.0");
  EXPECT_TRUE(processes_.hidden_runs.empty());
}

TEST_F(PatchSequenceTest, AFailingToolRefreshFailsTheVersionStep) {
  processes_.on_run = [](const std::string&) { return platform::Result<uint32_t>(1u); };
  RunPatch();
  EXPECT_THAT(Log(), ::testing::HasSubstr("Updating QLX version...Failed\n"
                                          "Starting QLX service...Successfully\n"));
}

TEST_F(PatchSequenceTest, AMissingSettingsFileAbortsTheConnectionButNotTheRun) {
  files_.Remove(HostDirectory() + "\\config\\database.props");
  EXPECT_EQ(RunPatch(), 0);
  EXPECT_EQ(Log(),
            "Updating QLX database...\n"
            "Stopping QLX service...Successfully\n"
            "KTRDatabaseInterface - OpenGlobalConnection aborted (code 5, error 2)\n"
            "Failed to open database connection\n"
            "Starting QLX service...Successfully\n"
            "QLX database updation completed\n\n");
  EXPECT_TRUE(services_.running["OV Quellmark"]);
}

TEST_F(PatchSequenceTest, ComThatCannotBeUsedAbortsTheConnectionButNotTheRun) {
  database_.com_usable = false;
  RunPatch();
  EXPECT_THAT(Log(), ::testing::HasSubstr(
                         "KTRDatabaseInterface - OpenGlobalConnection aborted (code 6, error 0)\n"
                         "Failed to open database connection\n"
                         "Starting QLX service...Successfully\n"));
}

TEST_F(PatchSequenceTest, AnExceptionInAStepFailsOnlyThatStep) {
  services_.throw_on_stop = true;
  EXPECT_EQ(RunPatch(), 0);
  std::string expected = kSuccessfulRun;
  const std::string stopped = "Stopping QLX service...Successfully\n";
  expected.replace(expected.find(stopped), stopped.size(),
                   "Stopping QLX service...QLXPatch - ServiceStop aborted (service manager gone)\n"
                   "Failed\n");
  EXPECT_EQ(Log(), expected);
}

TEST_F(PatchSequenceTest, AnUnwritableLogChangesNothingButTheLog) {
  files_.AddDirectory("QLX_patch.log");  // cannot be opened as a file
  EXPECT_EQ(RunPatch(), 0);
  EXPECT_EQ(registry_.Text(kAddOnKey, "Build"), "4.3.1");
  EXPECT_TRUE(services_.running["OV Quellmark"]);
  EXPECT_EQ(processes_.hidden_runs.size(), 2u);
}

TEST_F(PatchSequenceTest, ASecondRunAppendsBehindTheFirst) {
  RunPatch();
  RunPatch();
  EXPECT_EQ(Log(), std::string(kSuccessfulRun) + kSuccessfulRun);
}

// A session that ends while the program's thread is stuck in a database call
// it cannot leave: the handler gives it its share of the budget, then cleans
// up itself within Windows' limit (no start during a shutdown), and the
// program's thread, once back, writes nothing more and ends interrupted.
TEST_F(PatchSequenceTest, ASessionThatEndsDuringAHangingDatabaseCallIsCleanedUpByTheHandler) {
  for (const char* what : {"console closed", platform::kShutdown}) {
    services_.running["OV Quellmark"] = true;
    WriteFile("addon/pass2.txt", "secret\n");
    std::atomic<bool> stuck{false};
    std::atomic<bool> released{false};
    FaultPlan plan;
    plan.reach_call = "Execute";
    plan.on_reach = [&] {
      stuck = true;
      while (!released) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    host_.InjectFaults(plan);
    RunControl run;
    int status = 0;
    std::thread sequence([&] { status = RunPatch(run); });
    while (!stuck) std::this_thread::yield();

    const auto began = std::chrono::steady_clock::now();
    run.OnInterruption(what, true);
    const auto took = std::chrono::steady_clock::now() - began;
    const std::string log = Log();
    released = true;
    sequence.join();

    EXPECT_GE(took, kProgramThreadShare) << what;
    EXPECT_LT(took, kSessionEndTotal) << what;
    EXPECT_EQ(status, kInterruptedStatus) << what;
    EXPECT_EQ(Log(), log) << what << ": the program's thread wrote after the clean-up";
    const bool shutdown = std::string(what) == platform::kShutdown;
    EXPECT_THAT(
        log,
        ::testing::EndsWith(
            std::string("Starting updation...\nQLXPatch - Run interrupted (") + what + ")\n" +
            (shutdown ? "QLXPatch - Service left to its start type: the system is shutting down\n"
                      : "Starting QLX service...Successfully\n")))
        << log;
    EXPECT_EQ(services_.running["OV Quellmark"], !shutdown) << what;
    EXPECT_FALSE(FileExists("addon/pass2.txt")) << what;
  }
}

}  // namespace
}  // namespace qlx::testing
