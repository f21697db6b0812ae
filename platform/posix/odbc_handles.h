#pragma once

// The ODBC handles the database layer works with, each owned by one object
// that frees it, and the reading of their diagnostics into ComError.

#include <sql.h>
#include <sqlext.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/database.h"
#include "platform/posix/odbc_errors.h"
#include "platform/unique_handle.h"

namespace qlx::platform::odbc {

template <SQLSMALLINT kType>
SQLRETURN FreeHandle(SQLHANDLE handle) {
  return SQLFreeHandle(kType, handle);
}

// One ODBC handle of the given type (SQL_HANDLE_ENV, _DBC, _STMT).
template <SQLSMALLINT kType>
using Handle = UniqueHandle<ClosedBy<SQLHANDLE, &FreeHandle<kType>>>;

// The failure of the last call on a handle as the program sees it.
ComError ErrorFrom(SQLSMALLINT type, SQLHANDLE handle, const FailureContext& context);

// The driver manager's environment, with ODBC 3 behaviour.
class Environment {
 public:
  // Null when the driver manager gives no environment.
  static std::shared_ptr<Environment> Create();
  explicit Environment(Handle<SQL_HANDLE_ENV> handle) : handle_(std::move(handle)) {}
  SQLHENV get() const { return handle_.get(); }

 private:
  Handle<SQL_HANDLE_ENV> handle_;
};

// One connection handle. It keeps its environment alive and disconnects
// before it is freed. Failures throw ComError.
class ConnectionHandle {
 public:
  explicit ConnectionHandle(std::shared_ptr<Environment> environment);
  ~ConnectionHandle();
  ConnectionHandle(const ConnectionHandle&) = delete;
  ConnectionHandle& operator=(const ConnectionHandle&) = delete;

  SQLHDBC get() const { return handle_.get(); }
  // Ignored by drivers that do not support it.
  void SetLoginTimeout(unsigned long seconds);
  void Connect(const std::string& connection_string);
  void Disconnect();
  // The driver's kind; known once connected.
  DriverKind driver() const { return driver_; }

 private:
  void ForceDisconnect();

  std::shared_ptr<Environment> environment_;
  Handle<SQL_HANDLE_DBC> handle_;
  bool connected_ = false;
  DriverKind driver_ = DriverKind::kOther;
};

// One statement handle on a connected handle. Free ends it early, as closing
// its connection must. Failures throw ComError.
class StatementHandle {
 public:
  explicit StatementHandle(const ConnectionHandle& connection);

  bool freed() const { return !handle_; }
  void Free() { handle_.reset(); }
  // Ignored by drivers that do not support it; 0 means no limit.
  void SetQueryTimeout(unsigned long seconds);
  void ExecDirect(const std::string& statement);
  // True when the statement produced a result set.
  bool ReturnsRows();
  // Moves to the next row; false past the last one.
  bool Fetch();
  void CloseCursor();

 private:
  [[noreturn]] void Fail();

  Handle<SQL_HANDLE_STMT> handle_;
  FailureContext context_;
};

}  // namespace qlx::platform::odbc
