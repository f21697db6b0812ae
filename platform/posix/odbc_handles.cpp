#include "platform/posix/odbc_handles.h"

#include <cstdint>

#include "platform/posix/text_encoding.h"
#include "platform/windows_codes.h"

namespace qlx::platform::odbc {
namespace {

// More records than this are not read: the first ones tell the story.
constexpr SQLSMALLINT kMostRecords = 20;

SQLPOINTER IntegerAttribute(unsigned long value) {
  return reinterpret_cast<SQLPOINTER>(static_cast<std::uintptr_t>(value));
}

std::string Text(const std::vector<SQLCHAR>& buffer) {
  return std::string(reinterpret_cast<const char*>(buffer.data()));
}

// The program's ANSI text in UTF-8 with a terminating zero, as the drivers
// take it.
std::vector<SQLCHAR> DriverText(const std::string& ansi) {
  const std::string text = posix::Utf8FromAnsi(ansi);
  std::vector<SQLCHAR> buffer(text.begin(), text.end());
  buffer.push_back('\0');
  return buffer;
}

// Record number `number` of the handle, or false when there is none.
bool ReadRecord(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT number, Diagnostic* record) {
  SQLCHAR state[SQL_SQLSTATE_SIZE + 1] = {};
  SQLINTEGER native_error = 0;
  std::vector<SQLCHAR> message(SQL_MAX_MESSAGE_LENGTH);
  SQLSMALLINT length = 0;
  auto read = [&] {
    return SQLGetDiagRec(type, handle, number, state, &native_error, message.data(),
                         static_cast<SQLSMALLINT>(message.size()), &length);
  };
  SQLRETURN rc = read();
  if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(message.size())) {
    message.resize(static_cast<std::size_t>(length) + 1);
    rc = read();
  }
  if (!SQL_SUCCEEDED(rc)) return false;
  // The drivers speak UTF-8; the program logs ANSI.
  *record = Diagnostic{reinterpret_cast<const char*>(state), native_error,
                       posix::AnsiFromUtf8(Text(message))};
  return true;
}

// The diagnostic records that the last call on a handle left, in order.
std::vector<Diagnostic> ReadDiagnostics(SQLSMALLINT type, SQLHANDLE handle) {
  std::vector<Diagnostic> records;
  Diagnostic record;
  for (SQLSMALLINT number = 1; number <= kMostRecords; ++number) {
    if (!ReadRecord(type, handle, number, &record)) break;
    records.push_back(record);
  }
  return records;
}

// True when the last call failed only because the driver lacks the feature.
bool Unsupported(SQLSMALLINT type, SQLHANDLE handle) {
  const std::vector<Diagnostic> records = ReadDiagnostics(type, handle);
  if (records.empty()) return false;
  const std::string& state = records.front().sqlstate;
  return state == "HYC00" || state == "HY092" || state == "S1C00" || state == "S1092";
}

// The name of the driver behind a connected handle.
std::string DriverName(SQLHDBC connection) {
  std::vector<SQLCHAR> name(256);
  SQLSMALLINT length = 0;
  const SQLRETURN rc = SQLGetInfo(connection, SQL_DRIVER_NAME, name.data(),
                                  static_cast<SQLSMALLINT>(name.size()), &length);
  return SQL_SUCCEEDED(rc) ? Text(name) : std::string();
}

}  // namespace

ComError ErrorFrom(SQLSMALLINT type, SQLHANDLE handle, const FailureContext& context) {
  const std::vector<Diagnostic> records = ReadDiagnostics(type, handle);
  if (records.empty()) return ComError(kEFail);
  return ComError(HresultFor(records.front(), context), DescriptionFor(records));
}

std::shared_ptr<Environment> Environment::Create() {
  SQLHANDLE raw = nullptr;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, nullptr, &raw))) return nullptr;
  Handle<SQL_HANDLE_ENV> handle(raw);
  const SQLRETURN rc =
      SQLSetEnvAttr(handle.get(), SQL_ATTR_ODBC_VERSION, IntegerAttribute(SQL_OV_ODBC3), 0);
  if (!SQL_SUCCEEDED(rc)) return nullptr;
  return std::make_shared<Environment>(std::move(handle));
}

ConnectionHandle::ConnectionHandle(std::shared_ptr<Environment> environment)
    : environment_(std::move(environment)) {
  SQLHANDLE raw = nullptr;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, environment_->get(), &raw))) {
    throw ErrorFrom(SQL_HANDLE_ENV, environment_->get(), FailureContext{});
  }
  handle_ = Handle<SQL_HANDLE_DBC>(raw);
}

ConnectionHandle::~ConnectionHandle() {
  if (connected_) ForceDisconnect();
}

void ConnectionHandle::SetLoginTimeout(unsigned long seconds) {
  const SQLRETURN rc =
      SQLSetConnectAttr(get(), SQL_ATTR_LOGIN_TIMEOUT, IntegerAttribute(seconds), 0);
  if (!SQL_SUCCEEDED(rc) && !Unsupported(SQL_HANDLE_DBC, get())) {
    throw ErrorFrom(SQL_HANDLE_DBC, get(), FailureContext{});
  }
}

void ConnectionHandle::Connect(const std::string& connection_string) {
  std::vector<SQLCHAR> text = DriverText(connection_string);
  const SQLRETURN rc = SQLDriverConnect(get(), nullptr, text.data(), SQL_NTS, nullptr, 0, nullptr,
                                        SQL_DRIVER_NOPROMPT);
  if (!SQL_SUCCEEDED(rc)) throw ErrorFrom(SQL_HANDLE_DBC, get(), FailureContext{});
  connected_ = true;
  driver_ = DriverKindOf(DriverName(get()));
}

void ConnectionHandle::Disconnect() {
  if (!SQL_SUCCEEDED(SQLDisconnect(get()))) {
    throw ErrorFrom(SQL_HANDLE_DBC, get(), FailureContext{});
  }
  connected_ = false;
}

// A handle is freed only when disconnected: an open transaction that stands
// in the way is rolled back.
void ConnectionHandle::ForceDisconnect() {
  if (SQL_SUCCEEDED(SQLDisconnect(get()))) return;
  SQLEndTran(SQL_HANDLE_DBC, get(), SQL_ROLLBACK);
  SQLDisconnect(get());
}

StatementHandle::StatementHandle(const ConnectionHandle& connection) {
  context_.statement = true;
  context_.driver = connection.driver();
  SQLHANDLE raw = nullptr;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, connection.get(), &raw))) {
    throw ErrorFrom(SQL_HANDLE_DBC, connection.get(), context_);
  }
  handle_ = Handle<SQL_HANDLE_STMT>(raw);
}

void StatementHandle::SetQueryTimeout(unsigned long seconds) {
  const SQLRETURN rc =
      SQLSetStmtAttr(handle_.get(), SQL_ATTR_QUERY_TIMEOUT, IntegerAttribute(seconds), 0);
  if (!SQL_SUCCEEDED(rc) && !Unsupported(SQL_HANDLE_STMT, handle_.get())) Fail();
  context_.query_timeout_set = seconds > 0;
}

void StatementHandle::ExecDirect(const std::string& statement) {
  std::vector<SQLCHAR> text = DriverText(statement);
  const SQLRETURN rc =
      SQLExecDirect(handle_.get(), text.data(), static_cast<SQLINTEGER>(text.size() - 1));
  // SQL_NO_DATA: a searched UPDATE or DELETE that touched no row.
  if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) Fail();
}

bool StatementHandle::ReturnsRows() {
  SQLSMALLINT columns = 0;
  if (!SQL_SUCCEEDED(SQLNumResultCols(handle_.get(), &columns))) Fail();
  return columns > 0;
}

bool StatementHandle::Fetch() {
  const SQLRETURN result = SQLFetch(handle_.get());
  if (result == SQL_NO_DATA) return false;
  if (!SQL_SUCCEEDED(result)) Fail();
  return true;
}

void StatementHandle::CloseCursor() {
  if (!SQL_SUCCEEDED(SQLFreeStmt(handle_.get(), SQL_CLOSE))) Fail();
}

void StatementHandle::Fail() { throw ErrorFrom(SQL_HANDLE_STMT, handle_.get(), context_); }

}  // namespace qlx::platform::odbc
