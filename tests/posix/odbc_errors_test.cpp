#include "platform/posix/odbc_errors.h"

#include <gtest/gtest.h>

#include "platform/database.h"

namespace qlx::platform::odbc {
namespace {

FailureContext Statement(DriverKind driver = DriverKind::kOther, bool timeout = false) {
  FailureContext context;
  context.statement = true;
  context.driver = driver;
  context.query_timeout_set = timeout;
  return context;
}

int32_t ForStatement(const std::string& sqlstate, const std::string& message = "",
                     DriverKind driver = DriverKind::kOther, int32_t native_error = 0,
                     bool timeout = false) {
  return HresultFor(Diagnostic{sqlstate, native_error, message}, Statement(driver, timeout));
}

TEST(OdbcHresultTest, ConnectingFailsWithEFailWhateverTheState) {
  for (const char* state :
       {"08001", "28000", "28P01", "IM002", "IM003", "HYT00", "42501", "23505", "3D000", "HY000"}) {
    EXPECT_EQ(HresultFor(Diagnostic{state, 0, "x"}, FailureContext{}), kEFail) << state;
  }
}

TEST(OdbcHresultTest, IntegrityViolations) {
  EXPECT_EQ(ForStatement("23505"), kIntegrityViolation);
  EXPECT_EQ(ForStatement("23000"), kIntegrityViolation);
  EXPECT_EQ(ForStatement("23503"), kIntegrityViolation);
}

TEST(OdbcHresultTest, ErrorsInCommand) {
  for (const char* state :
       {"42000", "42601", "42P01", "42703", "42S02", "42S22", "37000", "S0002", "S0022"}) {
    EXPECT_EQ(ForStatement(state), kErrorsInCommand) << state;
  }
}

TEST(OdbcHresultTest, PermissionDenied) {
  EXPECT_EQ(ForStatement("42501"), kPermissionDenied);
  EXPECT_EQ(ForStatement("28000"), kPermissionDenied);
}

TEST(OdbcHresultTest, QueryTimeOut) {
  EXPECT_EQ(ForStatement("HYT00"), kAbortLimitReached);
  EXPECT_EQ(ForStatement("S1T00"), kAbortLimitReached);
}

TEST(OdbcHresultTest, PostgreSqlCancelIsATimeOutOnlyWhenOneWasSet) {
  const char* statement_timeout =
      "ERROR: canceling statement due to statement timeout;\nError while executing the query";
  const char* user_request = "ERROR: canceling statement due to user request";
  EXPECT_EQ(ForStatement("57014", statement_timeout), kAbortLimitReached);
  EXPECT_EQ(ForStatement("57014", user_request, DriverKind::kOther, 1, true), kAbortLimitReached);
  EXPECT_EQ(ForStatement("57014", user_request), kEFail);
}

TEST(OdbcHresultTest, DataExceptions) {
  EXPECT_EQ(ForStatement("22001"), kDataOverflow);
  EXPECT_EQ(ForStatement("22003"), kDataOverflow);
  EXPECT_EQ(ForStatement("22018"), kCantConvertValue);
  EXPECT_EQ(ForStatement("22P02"), kCantConvertValue);
  EXPECT_EQ(ForStatement("22012"), kEFail);
}

TEST(OdbcHresultTest, SQLiteEngineErrorsByNativeCode) {
  EXPECT_EQ(
      ForStatement("HY000", "[SQLite]UNIQUE constraint failed: t.id (19)", DriverKind::kSQLite, 19),
      kIntegrityViolation);
  EXPECT_EQ(ForStatement("HY000", "", DriverKind::kSQLite, 2067), kIntegrityViolation);
  EXPECT_EQ(ForStatement("HY000", "[SQLite]no such table: nosuch (1)", DriverKind::kSQLite, 1),
            kErrorsInCommand);
  EXPECT_EQ(ForStatement("HY000", "", DriverKind::kSQLite, 23), kPermissionDenied);
  EXPECT_EQ(ForStatement("HY000", "[SQLite]database is locked (5)", DriverKind::kSQLite, 5),
            kEFail);
}

TEST(OdbcHresultTest, NativeCodesMeanNothingForOtherDrivers) {
  EXPECT_EQ(ForStatement("HY000", "", DriverKind::kOther, 19), kEFail);
  EXPECT_EQ(ForStatement("HY000", "", DriverKind::kOther, 1), kEFail);
}

TEST(OdbcHresultTest, AnythingElseIsEFail) {
  for (const char* state : {"08S01", "HY000", "HY001", "25000", "40001", "IM001", "01000"}) {
    EXPECT_EQ(ForStatement(state), kEFail) << state;
  }
}

TEST(OdbcDriverKindTest, RecognisesSQLite) {
  EXPECT_EQ(DriverKindOf("sqlite3odbc.so"), DriverKind::kSQLite);
  EXPECT_EQ(DriverKindOf("SQLITE3ODBC.DLL"), DriverKind::kSQLite);
  EXPECT_EQ(DriverKindOf("psqlodbcw.so"), DriverKind::kOther);
  EXPECT_EQ(DriverKindOf(""), DriverKind::kOther);
}

TEST(OdbcDescriptionTest, FirstRecordAsTheDriverGivesIt) {
  EXPECT_EQ(DescriptionFor({{"HY000", 19, "[SQLite]UNIQUE constraint failed: t.id (19)"}}),
            "[SQLite]UNIQUE constraint failed: t.id (19)");
  EXPECT_EQ(DescriptionFor({{"42P01", 1,
                             "ERROR: relation \"x\" does not exist;\nError while executing the "
                             "query"}}),
            "ERROR: relation \"x\" does not exist;\nError while executing the query");
}

TEST(OdbcDescriptionTest, DropsLineBreaksAtTheEnd) {
  EXPECT_EQ(DescriptionFor({{"08001", 101, "FATAL:  password authentication failed\n"}}),
            "FATAL:  password authentication failed");
  EXPECT_EQ(DescriptionFor({{"08001", 0, "x\r\n"}}), "x");
}

TEST(OdbcDescriptionTest, FurtherErrorsOnLinesOfTheirOwnWarningsLeftOut) {
  EXPECT_EQ(DescriptionFor({{"23000", 2627, "Violation of PRIMARY KEY constraint"},
                            {"01000", 3621, "The statement has been terminated."},
                            {"42000", 0, "second error"},
                            {"23000", 2627, "Violation of PRIMARY KEY constraint"}}),
            "Violation of PRIMARY KEY constraint\nsecond error");
}

TEST(OdbcDescriptionTest, EmptyWithoutRecords) { EXPECT_EQ(DescriptionFor({}), ""); }

}  // namespace
}  // namespace qlx::platform::odbc
