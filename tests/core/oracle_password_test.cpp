#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

#include "database/ktr_database_interface.h"
#include "database/ktr_exception.h"
#include "fakes/sandbox.h"
#include "platform/files.h"

namespace qlx::testing {
namespace {

using ::testing::ElementsAre;

// Stands in for the command interpreter: writes what the named tool would
// print into the file the line redirects to.
class OraclePasswordTest : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    WriteFile("host/config/database.props", "ov.Database.hostName=DBSRV\n");
    processes_.on_interpreter = [this](const std::string& line) {
      const std::string::size_type open = line.find('"');
      const std::string target = line.substr(open + 1, line.rfind('"') - open - 1);
      for (const auto& [tool, output] : outputs_) {
        if (line.rfind(tool, 0) != 0) continue;
        std::unique_ptr<platform::File> file = files_.Open(target, "w", nullptr);
        if (file) file->Write(output);
        return;
      }
    };
    outputs_ = {{"hostname", "myhost\r\n"},
                {"zqpassword -e", "AB CD\r\nEF\r\n"},
                {"zqpassword -l", " se cret \r\nsecond line\r\n"}};
  }

  bool PasswordFilesLeft() {
    return FileExists("addon/pass1.txt") || FileExists("addon/pass2.txt");
  }
  std::string Pass(const char* name) { return "\"" + AddOnDirectory() + "\\" + name + "\""; }

  std::map<std::string, std::string> outputs_;
  KTRDatabaseInterface session_;
};

TEST_F(OraclePasswordTest, RunsTheThreeCommandsAndReturnsTheFirstLineWithoutBlanks) {
  EXPECT_EQ(session_.GetPassword(), "secret");
  EXPECT_THAT(
      processes_.interpreter_lines,
      ElementsAre("hostname > " + Pass("pass1.txt"), "zqpassword -e myhost > " + Pass("pass1.txt"),
                  "zqpassword -l -x ZqQLXPassword -k ABCDEF > " + Pass("pass2.txt")));
  EXPECT_EQ(Log(),
            "KTRDatabaseInterface - GetPassword()\n"
            "KTRDatabaseInterface - password extracted\n");
  EXPECT_FALSE(PasswordFilesLeft());
}

TEST_F(OraclePasswordTest, EmptyToolOutputLeavesDoubleBlanksAndAnEmptyPassword) {
  outputs_ = {{"hostname", ""}, {"zqpassword -e", "\n"}, {"zqpassword -l", ""}};
  EXPECT_EQ(session_.GetPassword(), "");
  EXPECT_EQ(processes_.interpreter_lines[1], "zqpassword -e  > " + Pass("pass1.txt"));
  EXPECT_EQ(processes_.interpreter_lines[2],
            "zqpassword -l -x ZqQLXPassword -k  > " + Pass("pass2.txt"));
  EXPECT_THAT(Log(), ::testing::HasSubstr("password extracted"));
  EXPECT_FALSE(PasswordFilesLeft());
}

TEST_F(OraclePasswordTest, AnOutputFileThatNeverAppearsEndsEarlyAndLeavesNoFile) {
  outputs_.erase("zqpassword -l");
  WriteFile("addon/pass2.txt", "stale secret\n");  // left by an older run
  processes_.on_interpreter = [this, inner = processes_.on_interpreter](const std::string& line) {
    if (line.rfind("zqpassword -l", 0) == 0) files_.Remove(AddOnDirectory() + "\\pass2.txt");
    inner(line);
  };
  EXPECT_EQ(session_.GetPassword(), "");
  EXPECT_EQ(Log(), "KTRDatabaseInterface - GetPassword()\n");
  EXPECT_FALSE(PasswordFilesLeft());
}

TEST_F(OraclePasswordTest, ToolOutputThatTheInterpreterWouldActOnIsNotPasted) {
  for (const char* key : {"K&del *.*", "K|x", "K>x", "K%PATH%", "K$(id)", "K;x", "K`id`"}) {
    processes_.interpreter_lines.clear();
    outputs_["zqpassword -e"] = key;
    EXPECT_EQ(session_.GetPassword(), "") << key;
    EXPECT_EQ(processes_.interpreter_lines.size(), 2u) << key;
  }
  outputs_["hostname"] = "host&x\r\n";
  processes_.interpreter_lines.clear();
  EXPECT_EQ(session_.GetPassword(), "");
  EXPECT_EQ(processes_.interpreter_lines.size(), 1u);
  EXPECT_FALSE(PasswordFilesLeft());
}

TEST_F(OraclePasswordTest, AMissingSettingsFileRaisesBeforeAnyCommand) {
  files_.Remove(HostDirectory() + "\\config\\database.props");
  EXPECT_THROW(session_.GetPassword(), CKTRException);
  EXPECT_TRUE(processes_.interpreter_lines.empty());
  EXPECT_EQ(Log(), "KTRDatabaseInterface - GetPassword()\n");
}

TEST_F(OraclePasswordTest, ADirectoryWithBlanksStaysInOnePiece) {
  const std::string directory = "C:\\qlx\\add on dir";
  files_.AddDirectory(directory);
  registry_.SetString(kAddOnKey, "ExtensionBase", directory);
  EXPECT_EQ(session_.GetPassword(), "secret");
  EXPECT_EQ(processes_.interpreter_lines[0], "hostname > \"" + directory + "\\pass1.txt\"");
  EXPECT_FALSE(files_.Exists(directory + "\\pass1.txt"));
  EXPECT_FALSE(files_.Exists(directory + "\\pass2.txt"));
}

TEST_F(OraclePasswordTest, TheConnectionStringJoinsUserPasswordAndDataSource) {
  WriteFile("addon/qlxdatabase.props",
            "qlx.Database.username=first\r\nqlx.Database.username=scott\r\n"
            "qlx.Database.password=ignored\r\nqlx.Database.databaseName=ORCL=1\r\n");
  EXPECT_EQ(session_.GetOracleDatabaseParameters(),
            "Provider=OraOLEDB.Oracle;User ID=scott;Password=secret;Data Source=ORCL=1");
  EXPECT_EQ(OracleUserName(), "scott");
  EXPECT_EQ(session_.DatabaseName(), "ORCL=1");
  EXPECT_EQ(Log(),
            "KTRDatabaseInterface - GetOracleDatabaseParameters started\n"
            "KTRDatabaseInterface - GetPassword()\n"
            "KTRDatabaseInterface - password extracted\n"
            "KTRDatabaseInterface - GetOracleDatabaseParameters finished\n");
}

TEST_F(OraclePasswordTest, AFileWithoutTheKeysLeavesEmptyPieces) {
  WriteFile("addon/qlxdatabase.props", "qlx.Database.username =scott\n");
  KTRDatabaseInterface fresh;
  const std::string before = OracleUserName();
  EXPECT_EQ(fresh.GetOracleDatabaseParameters(),
            "Provider=OraOLEDB.Oracle;User ID=" + before + ";Password=secret;Data Source=");
}

TEST_F(OraclePasswordTest, APasswordWithASemicolonCannotAddAttributes) {
  outputs_["zqpassword -l"] = "pw;Provider=x\n";
  WriteFile("addon/qlxdatabase.props",
            "qlx.Database.username=scott\nqlx.Database.databaseName=DB\n");
  EXPECT_EQ(session_.GetOracleDatabaseParameters(),
            "Provider=OraOLEDB.Oracle;User ID=scott;Password=\"pw;Provider=x\";Data Source=DB");
}

TEST_F(OraclePasswordTest, AMissingPropertiesFileNeverRunsThePasswordTool) {
  EXPECT_EQ(session_.GetOracleDatabaseParameters(), "");
  EXPECT_TRUE(processes_.interpreter_lines.empty());
  EXPECT_EQ(Log(),
            "KTRDatabaseInterface - GetOracleDatabaseParameters started\n"
            "QLXInstallDir - file not opened\n");
}

struct TimeoutCase {
  const char* content;  // null: no file
  int seconds;
};

class QueryTimeoutTest : public SandboxTest, public ::testing::WithParamInterface<TimeoutCase> {};

TEST_P(QueryTimeoutTest, ReadsTheValueAfterTheFirstSeparator) {
  if (GetParam().content) WriteFile("addon/Query_Timeout.txt", GetParam().content);
  KTRDatabaseInterface session;
  EXPECT_EQ(session.GetQueryTimeout(), GetParam().seconds);
}

INSTANTIATE_TEST_SUITE_P(Values, QueryTimeoutTest,
                         ::testing::Values(TimeoutCase{nullptr, 60},
                                           TimeoutCase{"Query_Timeout_Value=60", 60},
                                           TimeoutCase{"Query_Timeout_Value=120", 120},
                                           TimeoutCase{"Query_Timeout_Value=120\r\n", 120},
                                           TimeoutCase{"Query_Timeout_Value = 1 2 0", 120},
                                           TimeoutCase{"Other=5", 5}, TimeoutCase{"45\n", 45},
                                           TimeoutCase{"Query_Timeout_Value=0", 60},
                                           TimeoutCase{"Query_Timeout_Value=-5", 60},
                                           TimeoutCase{"Query_Timeout_Value=1.5", 60},
                                           TimeoutCase{"Query_Timeout_Value=5\nOther=7\n", 60},
                                           TimeoutCase{"Query_Timeout_Value=5\n7\n", 57},
                                           TimeoutCase{"Query_Timeout_Value=99999999999", 60},
                                           TimeoutCase{"", 60}, TimeoutCase{"=", 60}));

TEST_F(SandboxTest, AMissingTimeoutFileIsCreatedWithTheDefaultLine) {
  KTRDatabaseInterface session;
  EXPECT_EQ(session.GetQueryTimeout(), 60);
  EXPECT_EQ(ReadFile("addon/Query_Timeout.txt"), "Query_Timeout_Value=60");
}

TEST_F(SandboxTest, ATimeoutFileThatCannotBeReadIsLeftAlone) {
  // A directory in the file's place exists but cannot be opened as a file.
  files_.AddDirectory(AddOnDirectory() + "\\Query_Timeout.txt");
  WriteFile("addon/Query_Timeout.txt/keep", "x");
  KTRDatabaseInterface session;
  EXPECT_EQ(session.GetQueryTimeout(), 60);
  EXPECT_EQ(ReadFile("addon/Query_Timeout.txt/keep"), "x");
}

}  // namespace
}  // namespace qlx::testing
