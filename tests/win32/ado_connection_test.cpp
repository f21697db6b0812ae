// The ADO connection against the ADO that the system provides. The tests run
// under Wine, whose ADO (msado15) is registered in a fresh prefix but has no
// OLE DB providers and does not implement the ConnectionTimeout property; the
// expectations that only hold there are skipped elsewhere.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/database.h"
#include "platform/windows_codes.h"
#include "win32_test_support.h"

namespace qlx::platform {
namespace {

// The HRESULT the call failed with, or 0 when it did not fail.
template <typename Call>
int32_t FailureOf(Call call) {
  try {
    call();
  } catch (const ComError& error) {
    return error.Error();
  }
  return 0;
}

class AdoConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SystemDatabaseDriver().InitializeCom());
    connection_ = SystemDatabaseDriver().CreateConnection();
    ASSERT_NE(connection_, nullptr) << "no ADO Connection object could be made";
  }

  std::unique_ptr<Connection> connection_;
};

// COM may be brought into use again (CoInitialize then answers S_FALSE), and
// every connection holds a reference of its own: one released, the other
// still answers as the unopened connection it is.
TEST(AdoDriverTest, ComCanBeInitializedAgainAndEveryConnectionHoldsItsOwnObject) {
  ASSERT_TRUE(SystemDatabaseDriver().InitializeCom());
  ASSERT_TRUE(SystemDatabaseDriver().InitializeCom());
  std::unique_ptr<Connection> first = SystemDatabaseDriver().CreateConnection();
  const std::unique_ptr<Connection> second = SystemDatabaseDriver().CreateConnection();
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  first.reset();
  EXPECT_EQ(FailureOf([&second] { second->Close(); }), kAdObjectClosed);
}

TEST_F(AdoConnectionTest, ExecutingAndClosingNeedAnOpenConnection) {
  EXPECT_EQ(FailureOf([this] { connection_->Execute("INSERT INTO t VALUES (1)"); }),
            kAdObjectClosed);
  EXPECT_EQ(FailureOf([this] { connection_->Close(); }), kAdObjectClosed);
}

TEST_F(AdoConnectionTest, WineDoesNotImplementTheConnectionTimeout) {
  if (!test::RunningUnderWine()) GTEST_SKIP() << "only Wine's ADO lacks the property";
  try {
    connection_->PutConnectionTimeout(60);
    FAIL() << "the connection time-out was accepted";
  } catch (const ComError& error) {
    EXPECT_EQ(error.Error(), kENotImpl);
    // Wine's connection supports error information for no interface.
    EXPECT_EQ(error.Description(), std::nullopt);
  }
}

// The settings before the open go through as the program makes them.
TEST_F(AdoConnectionTest, WineHasNoProviderToOpenWith) {
  if (!test::RunningUnderWine()) GTEST_SKIP() << "Windows has the SQL Server provider";
  connection_->PutConnectionString(
      "Provider=sqloledb;Data Source=dbhost,1433;Initial Catalog=QLX_v3_0;"
      "Integrated Security=SSPI");
  connection_->PutCommandTimeout(60);
  EXPECT_EQ(FailureOf([this] { connection_->Open(); }), kEFail);
}

TEST_F(AdoConnectionTest, AnEmptyConnectionStringCannotBeOpened) {
  connection_->PutConnectionString("");
  connection_->PutCommandTimeout(1);
  EXPECT_NE(FailureOf([this] { connection_->Open(); }), 0);
}

// A provider that is not installed: CO_E_CLASSSTRING (wine.Check creates one).
TEST(AdoDriverTest, AProviderThatIsNotInstalledIsRefusedWithTheHresult) {
  EXPECT_EQ(SystemDatabaseDriver().CreateProvider("QLX.NoSuchProvider").error(), 0x800401F3u);
}

}  // namespace
}  // namespace qlx::platform
