// What the patch's statements meet on each database it is tested against:
// SQLite through its ODBC driver, and PostgreSQL through psqlODBC on the
// server that tests/e2e/postgres-server started in QLX_TEST_POSTGRES_DIR.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>

#include "odbc_test_environment.h"
#include "platform/windows_codes.h"

namespace qlx::posix_tests {
namespace {

using ::testing::HasSubstr;
using ::testing::Optional;

struct Backend {
  const char* name;
  // The SQL Server string for the backend, a SQLite database being made in
  // the directory; empty when the backend is not there.
  std::string (*connection_string)(const fs::path& directory);
  // What the driver's message says about a duplicate key and an unknown table.
  const char* duplicate_key_text;
  const char* unknown_table_text;
};

void PrintTo(const Backend& backend, std::ostream* out) { *out << backend.name; }

std::string SQLiteString(const fs::path& directory) {
  return SQLiteSqlServerString((directory / "qlx.db").string());
}

std::string PostgresString(const fs::path&) {
  const std::map<std::string, std::string> server = PostgresServer();
  return server.empty() ? "" : PostgresSqlServerString(server);
}

class OdbcStatementsTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    connection_string_ = GetParam().connection_string(directory_.path());
    ASSERT_FALSE(connection_string_.empty()) << GetParam().name << " is not available";
  }

  std::unique_ptr<Connection> OpenWithTable() {
    return posix_tests::OpenWithTable(connection_string_, true);
  }

  ScopedOdbcConfiguration config_;
  ScratchDirectory directory_;
  std::string connection_string_;
};

TEST_P(OdbcStatementsTest, OpensInsertsSelectsAndCloses) {
  std::unique_ptr<Connection> connection = OpenWithTable();
  EXPECT_EQ(connection->Execute("INSERT INTO Supported_Servers VALUES ('ProLiant DL380', 1)"),
            nullptr);
  std::unique_ptr<Recordset> rows = connection->Execute("SELECT * FROM Supported_Servers");
  ASSERT_TRUE(rows);
  rows->Close();
  EXPECT_EQ(ErrorOf([&] { rows->Close(); }).Error(), hresult::kAdObjectClosed);
  connection->Close();
}

TEST_P(OdbcStatementsTest, UpdateThatTouchesNoRowSucceeds) {
  std::unique_ptr<Connection> connection = OpenWithTable();
  EXPECT_EQ(connection->Execute("DELETE FROM Supported_Servers WHERE Model_Name = 'none'"),
            nullptr);
}

TEST_P(OdbcStatementsTest, DuplicateKeyIsAnIntegrityViolation) {
  std::unique_ptr<Connection> connection = OpenWithTable();
  const std::string insert = "INSERT INTO Supported_Servers VALUES ('ProLiant DL380', 1)";
  connection->Execute(insert);
  const ComError error = ErrorOf([&] { connection->Execute(insert); });
  EXPECT_EQ(error.Error(), hresult::kDbIntegrityViolation);
  EXPECT_THAT(error.Description(), Optional(HasSubstr(GetParam().duplicate_key_text)));
  // The connection stays usable for the next statement.
  EXPECT_EQ(connection->Execute("INSERT INTO Supported_Servers VALUES ('ProLiant DL580', 0)"),
            nullptr);
}

TEST_P(OdbcStatementsTest, UnknownTableIsAnErrorInTheCommand) {
  std::unique_ptr<Connection> connection = Open(connection_string_);
  const ComError error = ErrorOf([&] { connection->Execute("INSERT INTO Nowhere VALUES (1)"); });
  EXPECT_EQ(error.Error(), hresult::kDbErrorsInCommand);
  EXPECT_THAT(error.Description(), Optional(HasSubstr(GetParam().unknown_table_text)));
}

INSTANTIATE_TEST_SUITE_P(Backends, OdbcStatementsTest,
                         ::testing::Values(Backend{"SQLite", SQLiteString,
                                                   "UNIQUE constraint failed", "no such table"},
                                           Backend{"PostgreSQL", PostgresString,
                                                   "duplicate key value", "does not exist"}),
                         [](const ::testing::TestParamInfo<Backend>& backend) {
                           return std::string(backend.param.name);
                         });

}  // namespace
}  // namespace qlx::posix_tests
