#include "platform/posix/odbc_errors.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/database.h"

namespace qlx::platform::odbc {
namespace {

TEST(OdbcHresultTest, ConnectingFailsWithEFailButForARefusedLogin) {
  const char* psql_refused =
      "connection to server at \"127.0.0.1\", port 5432 failed: FATAL:  password "
      "authentication failed for user \"qlx\"";
  const struct {
    const char* state;
    const char* message;
    int32_t expected;
  } cases[] = {
      {"28000", "x", kAuthenticationFailed},
      {"28P01", "x", kAuthenticationFailed},
      {"08001", psql_refused, kAuthenticationFailed},
      {"08001", "could not connect to server: Connection refused", kEFail},
      {"IM002", "x", kEFail},
      {"IM003", "x", kEFail},
      {"HYT00", "x", kEFail},
      {"42501", "x", kEFail},
      {"23505", "x", kEFail},
      {"3D000", "x", kEFail},
      {"HY000", "x", kEFail},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HresultFor(Diagnostic{c.state, 0, c.message}, FailureContext{}), c.expected)
        << c.state << " " << c.message;
  }
}

FailureContext Statement(DriverKind driver = DriverKind::kOther, bool query_timeout_set = false) {
  FailureContext context;
  context.statement = true;
  context.driver = driver;
  context.query_timeout_set = query_timeout_set;
  return context;
}

TEST(OdbcHresultTest, StatementFailuresByState) {
  const struct {
    int32_t expected;
    std::vector<const char*> states;
  } cases[] = {
      {kIntegrityViolation, {"23505", "23000", "23503"}},
      {kErrorsInCommand,
       {"42000", "42601", "42P01", "42703", "42S02", "42S22", "37000", "S0002", "S0022"}},
      {kPermissionDenied, {"42501", "28000"}},
      {kAbortLimitReached, {"HYT00", "S1T00"}},
      {kDataOverflow, {"22001", "22003"}},
      {kCantConvertValue, {"22005", "22018", "22P02"}},
      {kEFail, {"22012", "08S01", "HY000", "HY001", "25000", "40001", "IM001", "01000", "57014"}},
  };
  for (const auto& c : cases) {
    for (const char* state : c.states) {
      EXPECT_EQ(HresultFor(Diagnostic{state, 0, ""}, Statement()), c.expected) << state;
    }
  }
}

TEST(OdbcHresultTest, PostgreSqlCancelIsATimeOutOnlyWhenOneWasSet) {
  const char* statement_timeout =
      "ERROR: canceling statement due to statement timeout;\nError while executing the query";
  const char* user_request = "ERROR: canceling statement due to user request";
  EXPECT_EQ(HresultFor(Diagnostic{"57014", 0, statement_timeout}, Statement()), kAbortLimitReached);
  EXPECT_EQ(HresultFor(Diagnostic{"57014", 1, user_request}, Statement(DriverKind::kOther, true)),
            kAbortLimitReached);
  EXPECT_EQ(HresultFor(Diagnostic{"57014", 0, user_request}, Statement()), kEFail);
}

TEST(OdbcHresultTest, SQLiteEngineErrorsByNativeCodeOnlyForSQLite) {
  const struct {
    int32_t native_error;
    int32_t for_sqlite;
  } cases[] = {{19, kIntegrityViolation},
               {2067, kIntegrityViolation},  // SQLITE_CONSTRAINT_UNIQUE
               {1, kErrorsInCommand},
               {23, kPermissionDenied},
               {5, kEFail}};
  for (const auto& c : cases) {
    const Diagnostic first{"HY000", c.native_error, "[SQLite]message"};
    EXPECT_EQ(HresultFor(first, Statement(DriverKind::kSQLite)), c.for_sqlite) << c.native_error;
    EXPECT_EQ(HresultFor(first, Statement(DriverKind::kOther)), kEFail) << c.native_error;
  }
}

TEST(OdbcDriverKindTest, RecognisesSQLite) {
  EXPECT_EQ(DriverKindOf("sqlite3odbc.so"), DriverKind::kSQLite);
  EXPECT_EQ(DriverKindOf("SQLITE3ODBC.DLL"), DriverKind::kSQLite);
  EXPECT_EQ(DriverKindOf("psqlodbcw.so"), DriverKind::kOther);
  EXPECT_EQ(DriverKindOf(""), DriverKind::kOther);
}

TEST(OdbcDescriptionTest, JoinsTheRecordsAsAProviderWould) {
  const struct {
    std::vector<Diagnostic> records;
    const char* description;
  } cases[] = {
      // The first record as the driver gives it.
      {{{"HY000", 19, "[SQLite]UNIQUE constraint failed: t.id (19)"}},
       "[SQLite]UNIQUE constraint failed: t.id (19)"},
      {{{"42P01", 1, "ERROR: relation \"x\" does not exist;\nError while executing the query"}},
       "ERROR: relation \"x\" does not exist;\nError while executing the query"},
      // Without the line breaks at the end.
      {{{"08001", 101, "FATAL:  password authentication failed\n"}},
       "FATAL:  password authentication failed"},
      {{{"08001", 0, "x\r\n"}}, "x"},
      // Further errors on lines of their own, warnings and repetitions left out.
      {{{"23000", 2627, "Violation of PRIMARY KEY constraint"},
        {"01000", 3621, "The statement has been terminated."},
        {"42000", 0, "second error"},
        {"23000", 2627, "Violation of PRIMARY KEY constraint"}},
       "Violation of PRIMARY KEY constraint\nsecond error"},
      {{}, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(DescriptionFor(c.records), c.description);
}

}  // namespace
}  // namespace qlx::platform::odbc
