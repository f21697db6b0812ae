// Every facility call of a whole run failed in turn, one run for each call,
// the way that call can really fail. Whatever fails, the run ends in order:
// the service is asked to start again, the log holds whole entries and ends
// with the final message, no password file is left behind and no password is
// logged, and every version value holds its old text or the new one.
//
// Then an interruption at every facility call in turn: the run ends finished
// (no interruption entry) or cleaned up (the entry on a line of its own,
// followed only by the clean-up's entries, every removal of the tools followed
// by their addition unless a second interruption abandoned it, no password
// file, and the service running unless the run never stopped it).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "driver/patch_sequence.h"
#include "driver/run_control.h"
#include "fakes/sandbox.h"
#include "platform/interruption.h"

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
    if (const auto file = files.Open(target, "w")) (*file)->Write(output);
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

// The log's lines: each one of the forms the program writes, so that an entry
// glued to a line left open shows.
const std::regex kLine(
    "((Stopping QLX service|Updating QLX version|Starting QLX service)\\.\\.\\.)?"
    "(Successfully|Failed|[A-Za-z]+ failed with error -?[0-9]+: [^\\n]*\\r)"
    "|Updating QLX database\\.\\.\\.|Starting updation\\.\\.\\.|Failed to open database connection"
    "|QLX database updation completed||[A-Za-z]+ - [^\\n]*|[A-Za-z]+ failed\\."
    "|(Error|Message|Description|Query) = [^\\n]*");
// What may follow the interruption's entry: the clean-up's own entries.
const std::regex kCleanUpEntries(
    "(QLXPatch - [^\\n]* could not be deleted \\([^\\n]*\\)\\n"
    "|Starting QLX service\\.\\.\\.(Successfully|Failed|ServiceStart failed with error -?[0-9]+: "
    "[^\\n]*\\r\\n\\nFailed)\\n)*");

struct Interruption {
  const char* what;
  bool session_ending;
  int count;  // how many come at once: a second abandons the tool registration
  std::chrono::milliseconds stop_takes;  // how long the service reports its stop under way
};

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// How the swept runs ended: finished, interrupted.
int sweep_endings[2] = {0, 0};

// Runs the patch and interrupts it at its Nth facility call as a handler
// does, by marking the run and waking its waits: everything else is the
// program's own. Returns false once a run ends without reaching call N.
bool RunInterruptedAt(const std::function<void(FakeHost&)>& prepare,
                      const Interruption& interruption, int n) {
  FakeHost host;
  prepare(host);
  host.services.stop_takes = interruption.stop_takes;
  const bool was_running = host.services.running["OV Quellmark"];
  FaultPlan plan;
  plan.fail_at = n;
  plan.on_reach = [&interruption] {
    for (int i = 0; i < interruption.count; ++i) {
      platform::MarkInterrupted(interruption.what, interruption.session_ending);
    }
  };
  host.InjectFaults(plan);
  RunControl run;
  ::testing::internal::CaptureStderr();  // what the patch is waiting for, when it waits
  const int status = RunPatch(run);
  ::testing::internal::GetCapturedStderr();
  if (plan.failed_call.empty()) return false;

  const std::string where =
      std::string(interruption.what) + " at call " + std::to_string(n) + ": " + plan.failed_call;
  const std::string log = host.Log();
  const std::string entry = std::string("QLXPatch - Run interrupted (") + interruption.what + ")\n";
  const std::size_t at = log.find(entry);
  ++sweep_endings[status == 0 ? 0 : 1];
  if (status == 0) {
    EXPECT_EQ(at, std::string::npos) << where << "\n" << log;
  } else {
    EXPECT_EQ(status, kInterruptedStatus) << where;
    EXPECT_TRUE(at == 0 || (at != std::string::npos && log[at - 1] == '\n')) << where << "\n"
                                                                             << log;
    if (at != std::string::npos) {
      EXPECT_TRUE(std::regex_match(log.substr(at + entry.size()), kCleanUpEntries)) << where << "\n"
                                                                                    << log;
    }
  }
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_TRUE(std::regex_match(line, kLine)) << where << ": " << line << "\n" << log;
  }
  const std::vector<std::string>& runs = host.processes.hidden_runs;
  for (std::size_t i = 0; i < runs.size(); ++i) {
    if (!Contains(runs[i], " -r ")) continue;
    const bool added =
        i + 1 < runs.size() && Contains(runs[i + 1], " -a ") && !Contains(runs[i + 1], "(ended)");
    // Only a second interruption, or a session that ends, abandons it, and
    // the log says so.
    const bool may_abandon = interruption.count > 1 || interruption.session_ending;
    EXPECT_TRUE(added || (may_abandon && Contains(log, "Tool registration abandoned")))
        << where << "\n"
        << log;
  }
  EXPECT_FALSE(Contains(log, "error 1056")) << where << "\n" << log;
  // Running unless the run neither found it running nor asked for the start.
  const std::vector<std::string>& requests = host.services.requests;
  const bool started =
      std::find(requests.begin(), requests.end(), "start OV Quellmark") != requests.end();
  EXPECT_EQ(host.services.running["OV Quellmark"], was_running || started) << where << "\n" << log;
  for (const std::string& path : host.files.Paths()) {
    EXPECT_FALSE(IsPasswordFile(path)) << where << ": " << path << " left";
  }
  return true;
}

TEST(FaultSweepTest, AnInterruptionAtEveryCallEndsTheRunFinishedOrCleanedUp) {
  const std::pair<const char*, std::function<void(FakeHost&)>> runs[] = {
      {"SQL Server", PrepareSqlServer},
      {"Oracle", PrepareOracle},
      {"service already stopped, first row present", PrepareStoppedService},
  };
  const Interruption interruptions[] = {
      {"SIGTERM", false, 1, std::chrono::milliseconds(0)},
      // A slow stop is waited for as long as the sequence's own start waits.
      {"SIGTERM", false, 1, std::chrono::seconds(5)},
      {"SIGINT", false, 2, std::chrono::milliseconds(0)},
      // Within the 2 s a session that ends leaves for a pending stop.
      {"console closed", true, 1, std::chrono::milliseconds(1500)},
  };
  int swept = 0;
  for (const auto& [name, prepare] : runs) {
    for (const Interruption& interruption : interruptions) {
      int n = 1;
      while (RunInterruptedAt(prepare, interruption, n)) ++n;
      swept += n - 1;
    }
  }
  RecordProperty("interruption_points", swept);
  std::printf("%d interruption points swept in all: %d runs finished, %d interrupted\n", swept,
              sweep_endings[0], sweep_endings[1]);
  EXPECT_GT(swept, 300);
  EXPECT_GT(sweep_endings[0], 0);
  EXPECT_GT(sweep_endings[1], 0);
}

}  // namespace
}  // namespace qlx::testing
