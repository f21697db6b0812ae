#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "database/com_error_reporting.h"
#include "database/ktr_database_interface.h"
#include "database/ktr_exception.h"
#include "fakes/sandbox.h"

namespace qlx::testing {
namespace {

using ::testing::ElementsAre;

class DatabaseSessionTest : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    WriteFile("host/config/globalsettings.props", "dbType=SQLServer\n");
    WriteFile("host/config/database.props",
              "ov.Database.hostName=DBSRV\nov.Database.portNumber=1433\n");
    WriteFile("addon/Query_Timeout.txt", "Query_Timeout_Value=120");
  }
};

TEST_F(DatabaseSessionTest, OpenSetsTheConnectionUpInOrderWithItsTimeouts) {
  KTRDatabaseInterface session;
  ASSERT_TRUE(session.OpenGlobalConnection());

  EXPECT_TRUE(session.IsConnected());
  EXPECT_THAT(database_.calls, ElementsAre("InitializeCom", "CreateConnection", "ConnectionString",
                                           "ConnectionTimeout", "CommandTimeout", "Open"));
  EXPECT_EQ(database_.connection_string,
            "Provider=sqloledb;Data Source=DBSRV,1433;Initial Catalog=QLX_v3_0;"
            "Integrated Security=SSPI");
  EXPECT_EQ(CurrentConnectionString(), database_.connection_string);
  EXPECT_EQ(database_.connection_timeout, 60);
  EXPECT_EQ(database_.command_timeout, 120);
  EXPECT_EQ(Log(), "");
}

TEST_F(DatabaseSessionTest, AConnectionObjectThatCannotBeMadeIsReportedAsInvalidPointer) {
  database_.can_create = false;
  messages_.texts[0x80004003] = "Invalid pointer\r\n";
  KTRDatabaseInterface session;
  EXPECT_FALSE(session.OpenGlobalConnection());
  EXPECT_EQ(Log(),
            "KTRDatabaseInterface - OpenGlobalConnection failed\n"
            "OpenGlocalConnection failed.\n"
            "Error = 3\n"
            "Message = Invalid pointer\n"
            "Description = \n");
}

TEST_F(DatabaseSessionTest, AFailedOpenLeavesTheSessionUnconnected) {
  database_.failures.emplace("ConnectionTimeout",
                             platform::ComError(static_cast<int32_t>(0x80004001)));
  KTRDatabaseInterface session;
  EXPECT_FALSE(session.OpenGlobalConnection());
  EXPECT_FALSE(session.IsConnected());
  EXPECT_EQ(database_.calls.back(), "ConnectionTimeout");  // nothing after the failing call
  EXPECT_EQ(session.LastErrorOperation(), "OpenGlocalConnection");
  EXPECT_FALSE(session.ExecuteQuery("INSERT INTO t VALUES (1)"));
}

TEST_F(DatabaseSessionTest, ComThatCannotBeUsedRaisesCodeSix) {
  database_.com_usable = false;
  KTRDatabaseInterface session;
  try {
    session.OpenGlobalConnection();
    FAIL() << "no exception";
  } catch (const CKTRException& error) {
    EXPECT_EQ(error.Code(), 6);
    EXPECT_EQ(error.Error(), 0u);
  }
  EXPECT_FALSE(session.IsConnected());
  EXPECT_EQ(Log(), "");
}

TEST_F(DatabaseSessionTest, StatementsAndCloseNeedAnOpenConnection) {
  KTRDatabaseInterface session;
  EXPECT_FALSE(session.ExecuteQuery("INSERT INTO t VALUES (1)"));
  EXPECT_FALSE(session.CloseConnection());

  ASSERT_TRUE(session.OpenGlobalConnection());
  EXPECT_TRUE(session.ExecuteQuery("INSERT INTO t VALUES (1)"));
  EXPECT_TRUE(session.CloseConnection());
  EXPECT_FALSE(session.CloseConnection());
  EXPECT_FALSE(session.ExecuteQuery("INSERT INTO t VALUES (2)"));
  EXPECT_EQ(Log(), "");
}

TEST_F(DatabaseSessionTest, AFailedStatementIsLoggedWithItsTextAndTheNextStillRuns) {
  database_.failures.emplace("bad % statement",
                             platform::ComError(static_cast<int32_t>(0x80040E14), "Syntax"));
  KTRDatabaseInterface session;
  ASSERT_TRUE(session.OpenGlobalConnection());
  EXPECT_FALSE(session.ExecuteQuery("bad % statement"));
  EXPECT_TRUE(session.ExecuteQuery("good statement"));
  EXPECT_EQ(Log(),
            "ExecuteQuery failed.\n"
            "Error = 20\n"
            "Message = IDispatch error #3092\n"
            "Description = Syntax\n"
            "Query = bad % statement\n");
}

TEST_F(DatabaseSessionTest, OnlyABareSelectHasItsRecordsetClosed) {
  KTRDatabaseInterface session;
  ASSERT_TRUE(session.OpenGlobalConnection());
  ASSERT_TRUE(session.ExecuteQuery("SELECT * FROM t"));
  ASSERT_TRUE(session.ExecuteQuery("SELECT"));
  EXPECT_EQ(std::count(database_.calls.begin(), database_.calls.end(), "close recordset"), 1);
}

TEST_F(DatabaseSessionTest, ARefusedCloseIsLoggedAndLeavesTheSessionUnconnected) {
  database_.failures.emplace("Close", platform::ComError(platform::kEFail, "busy"));
  KTRDatabaseInterface session;
  ASSERT_TRUE(session.OpenGlobalConnection());
  EXPECT_FALSE(session.CloseConnection());
  EXPECT_FALSE(session.IsConnected());
  EXPECT_FALSE(session.ExecuteQuery("INSERT INTO t VALUES (1)"));
  EXPECT_EQ(Log(),
            "CloseConnection failed.\nError = 5\n"
            "Message = Unknown error 0x80004005\nDescription = busy\n");
}

TEST_F(DatabaseSessionTest, DestructionReleasesTheRecordsetThenTheConnectionWithoutClosing) {
  {
    KTRDatabaseInterface session;
    ASSERT_TRUE(session.OpenGlobalConnection());
    ASSERT_TRUE(session.ExecuteQuery("INSERT INTO t VALUES (1)"));
    database_.calls.clear();
  }
  EXPECT_THAT(database_.calls, ElementsAre("release recordset", "release connection"));
}

TEST_F(DatabaseSessionTest, ASecondOpenReleasesTheFirstConnection) {
  KTRDatabaseInterface session;
  ASSERT_TRUE(session.OpenGlobalConnection());
  ASSERT_TRUE(session.OpenGlobalConnection());
  EXPECT_EQ(database_.live_connections, 1);
}

struct MessageCase {
  uint32_t hresult;
  const char* system_text;  // null: the system has none
  const char* message;
};

class ComErrorMessageTest : public SandboxTest,
                            public ::testing::WithParamInterface<MessageCase> {};

TEST_P(ComErrorMessageTest, FormsTheMessage) {
  const MessageCase& c = GetParam();
  if (c.system_text) messages_.texts[c.hresult] = c.system_text;
  EXPECT_EQ(FormatComErrorMessage(static_cast<int32_t>(c.hresult)), c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, ComErrorMessageTest,
    ::testing::Values(MessageCase{0x80040E14, nullptr, "IDispatch error #3092"},
                      MessageCase{0x80040E2F, nullptr, "IDispatch error #3119"},
                      MessageCase{0x80040200, nullptr, "Unknown error 0x80040200"},
                      MessageCase{0x8004FFFF, nullptr, "IDispatch error #65023"},
                      MessageCase{0x80050000, nullptr, "Unknown error 0x80050000"},
                      MessageCase{0x800A0E7A, nullptr, "Unknown error 0x800A0E7A"},
                      MessageCase{0x80004003, "Invalid pointer\r\n", "Invalid pointer"},
                      MessageCase{0x80004005, "Line feed only\n", "Line feed only"},
                      MessageCase{0x80004005, "\n", "\n"},
                      MessageCase{0x80004005, "Inner\r\nline\r\n", "Inner\r\nline"}));

TEST_F(SandboxTest, ReportsKeepTheLastErrorEvenWhenTheLogCannotBeWritten) {
  files_.AddDirectory("QLX_patch.log");  // cannot be opened as a file
  KTRDatabaseInterface session;
  session.ReportQueryError("ExecuteQuery", platform::ComError(static_cast<int32_t>(0x80040E2F)),
                           "x");
  EXPECT_EQ(session.LastErrorCode(), 47);
  EXPECT_EQ(session.LastErrorMessage(), "IDispatch error #3119");
  EXPECT_EQ(session.LastErrorDescription(), "");
  EXPECT_FALSE(LogComError("op", 1, "m", "d"));
}

}  // namespace
}  // namespace qlx::testing
