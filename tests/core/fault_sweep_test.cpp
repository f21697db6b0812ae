// Every facility call of a whole run failed in turn, one run for each call,
// the way that call can really fail. Whatever fails, the run ends in order:
// the service is asked to start again, the log holds whole entries and ends
// with the final message, no password file is left behind and no password is
// logged, and every version value holds its old text or the new one.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "driver/patch_sequence.h"
#include "fakes/sandbox.h"

namespace qlx::testing {
namespace {

constexpr char kPassword[] = "tiger";
constexpr char kStartMessage[] = "Starting QLX service...";
constexpr char kFinalMessage[] = "QLX database updation completed\n\n";

// The forms a log entry takes; the log must be a sequence of whole ones.
const std::regex kEntry(
    "(Updating QLX database\\.\\.\\.\\n|Stopping QLX service\\.\\.\\.|Starting updation\\.\\.\\.\\n"
    "|Updating QLX version\\.\\.\\.|Starting QLX service\\.\\.\\.|Successfully\\n|Failed\\n"
    "|Failed to open database connection\\n|QLX database updation completed\\n\\n"
    "|[A-Za-z]+ - [^\\n]*\\n"
    "|[A-Za-z]+ failed with error -?[0-9]+: [^\\n]*\\r\\n\\n"
    "|[A-Za-z]+ failed\\.\\nError = -?[0-9]+\\nMessage = [^\\n]*\\nDescription = [^\\n]*\\n"
    "(Query = [^\\n]*\\n)?)");

// The log cut into its entries; empty when some of it is no whole entry.
std::vector<std::string> Entries(const std::string& log) {
  std::vector<std::string> entries;
  std::smatch match;
  for (auto at = log.cbegin(); at != log.cend(); at = match[0].second) {
    if (!std::regex_search(at, log.cend(), match, kEntry, std::regex_constants::match_continuous)) {
      return {};
    }
    entries.push_back(match.str());
  }
  return entries;
}

bool IsOutcome(const std::string& entry) {
  return entry == "Successfully\n" || entry == "Failed\n";
}

// How many of the entries every run must end with are missing: the start
// request, its outcome (error entries may stand between) and the final message.
int MissingEndEntries(const std::vector<std::string>& entries) {
  int missing = entries.empty() || entries.back() != kFinalMessage ? 1 : 0;
  std::size_t at = 0;
  while (at < entries.size() && entries[at] != kStartMessage) ++at;
  if (at == entries.size()) return missing + 1;
  while (++at < entries.size() && !IsOutcome(entries[at]) && entries[at] != kFinalMessage) {
  }
  return missing + (at < entries.size() && IsOutcome(entries[at]) ? 0 : 1);
}

bool IsPasswordFile(const std::string& path) {
  for (const char* name : {"\\pass1.txt", "\\pass2.txt"}) {
    const std::string suffix(name);
    if (path.size() >= suffix.size() &&
        path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0) {
      return true;
    }
  }
  return false;
}

// What a command interpreter line writes where it redirects to, as the host's
// tools would print it. Cmd cannot create a file in a directory that does not
// exist, and it is no call of the program's own, so no fault hits it.
void RunInterpreterLine(FakeFiles& files, const std::string& line) {
  const std::pair<const char*, const char*> outputs[] = {
      {"hostname", "QLXHOST\r\n"}, {"zqpassword -e", "K3Y\r\n"}, {"zqpassword -l", "tiger\r\n"}};
  const std::string::size_type open = line.find('"');
  const std::string target = line.substr(open + 1, line.rfind('"') - open - 1);
  FaultPlan* plan = std::exchange(files.faults, nullptr);
  for (const auto& [tool, output] : outputs) {
    if (line.rfind(tool, 0) != 0) continue;
    if (std::unique_ptr<platform::File> file = files.Open(target, "w", nullptr))
      file->Write(output);
    break;
  }
  files.faults = plan;
}

void PrepareSqlServer(FakeHost& host) {
  host.WriteFile("host/config/globalsettings.props", "dbType=SQLServer\n");
  host.WriteFile("host/config/database.props", "ov.Database.hostName=DBSRV\n");
  host.WriteFile("qlxtools.xml", "<tools/>");
  host.messages.texts[5] = "Access is denied.\r\n";
  host.messages.texts[2] = "The system cannot find the file specified.\r\n";
}

void PrepareOracle(FakeHost& host) {
  PrepareSqlServer(host);
  host.WriteFile("host/config/globalsettings.props", "dbType=Oracle\n");
  host.WriteFile("addon/qlxdatabase.props", "qlx.Database.username=scott\n");
  host.processes.on_interpreter = [&files = host.files](const std::string& line) {
    RunInterpreterLine(files, line);
  };
}

// As when the patch runs again: the service is stopped and the first row is
// already there, so the log also holds a database error entry to fail.
void PrepareStoppedService(FakeHost& host) {
  PrepareSqlServer(host);
  host.services.running["OV Quellmark"] = false;
  host.database.failures.emplace(
      "INSERT INTO Supported_Servers (Model_Name, Model_Support, Max_Processors, "
      "Hyper_Threading_Support)\tVALUES ('TX540A1', 'TX540A1x', 2 , 1)",
      platform::ComError(static_cast<int32_t>(0x80040E2F), "duplicate key"));
}

// Runs the patch with its Nth facility call failing; returns false once a run
// ends without reaching call N. Every broken promise is a test failure.
bool RunWithFault(const std::function<void(FakeHost&)>& prepare, int n) {
  FakeHost host;
  prepare(host);
  FaultPlan plan;
  plan.fail_at = n;
  host.InjectFaults(plan);
  ::testing::internal::CaptureStdout();  // a failed settings read is reported there
  const int status = RunPatch();
  ::testing::internal::GetCapturedStdout();
  if (plan.failed_call.empty()) return false;

  const std::string where = "call " + std::to_string(n) + ": " + plan.failed_call;
  EXPECT_EQ(status, 0) << where;
  const std::string log = host.Log();
  const std::vector<std::string> entries = Entries(log);
  EXPECT_FALSE(entries.empty()) << where << "\nnot all whole entries:\n" << log;
  const bool log_call = plan.failed_call.find("qlx_patch.log") != std::string::npos;
  EXPECT_LE(MissingEndEntries(entries), log_call ? 1 : 0) << where << "\n" << log;
  EXPECT_EQ(log.find(kPassword), std::string::npos) << where;
  for (const std::string& path : host.files.Paths()) {
    const bool removal_failed = plan.failed_call == "remove " + path;
    EXPECT_TRUE(!IsPasswordFile(path) || removal_failed) << where << ": " << path << " left";
  }
  const std::pair<const char*, const char*> values[] = {
      {kAddOnKey, "Build"}, {kAddOnKey, "Version"}, {kUninstallKey, "DisplayVersion"}};
  for (const auto& [key, name] : values) {
    const std::string text = host.registry.Text(key, name);
    EXPECT_TRUE(text == "4.3.1" || text.rfind("4.2.0", 0) == 0)
        << where << ": " << name << "=" << text;
  }
  return true;
}

TEST(FaultSweepTest, EveryFailedCallStillEndsTheRunInOrder) {
  const std::pair<const char*, std::function<void(FakeHost&)>> runs[] = {
      {"SQL Server", PrepareSqlServer},
      {"Oracle", PrepareOracle},
      {"service already stopped, first row present", PrepareStoppedService},
  };
  int swept = 0;
  for (const auto& [name, prepare] : runs) {
    int n = 1;
    while (RunWithFault(prepare, n)) ++n;
    std::printf("%s run: %d fault points swept\n", name, n - 1);
    swept += n - 1;
  }
  RecordProperty("fault_points", swept);
  std::printf("%d fault points swept in all\n", swept);
  EXPECT_GT(swept, 100);
}

}  // namespace
}  // namespace qlx::testing
