#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/result.h"
#include "platform/windows_codes.h"

namespace qlx::platform {

// A failed database call: its HRESULT and, when the failing object left error
// information, the description from it in the ANSI code page.
class ComError {
 public:
  explicit ComError(int32_t hresult, std::optional<std::string> description = std::nullopt)
      : hresult_(hresult), description_(std::move(description)) {}
  int32_t Error() const { return hresult_; }
  const std::optional<std::string>& Description() const { return description_; }

 private:
  int32_t hresult_;
  std::optional<std::string> description_;
};

// The rows (if any) a statement returned; released when destroyed.
class Recordset {
 public:
  virtual ~Recordset() = default;
  virtual void Close() = 0;  // throws ComError
  // True when the cursor stands past the last row (no row at all, right
  // after the statement); throws ComError.
  virtual bool AtEnd() = 0;
};

// One database connection object; released, not closed, when destroyed.
// Every call throws ComError when it fails.
class Connection {
 public:
  virtual ~Connection() = default;
  virtual void PutConnectionString(const std::string& connection_string) = 0;
  virtual void PutConnectionTimeout(long seconds) = 0;
  virtual void PutCommandTimeout(long seconds) = 0;
  // Opens with empty user name and password: the credentials travel in the
  // connection string.
  virtual void Open() = 0;
  // Executes the text as a command; may give back no recordset.
  virtual std::unique_ptr<Recordset> Execute(const std::string& statement) = 0;
  virtual void Close() = 0;
};

class DatabaseDriver {
 public:
  virtual ~DatabaseDriver() = default;
  // Brings COM into use on this thread (single-threaded apartment); false when
  // it cannot be. Calling it again is harmless.
  virtual bool InitializeCom() = 0;
  // A new, unopened connection object; null when none can be made.
  virtual std::unique_ptr<Connection> CreateConnection() = 0;
  // Whether the OLE DB provider of that name (as a connection string's
  // Provider names it) can be created in this process: nothing, or the
  // HRESULT (as an unsigned code) of the refusal; ERROR_NOT_SUPPORTED where
  // there are no such providers to ask.
  virtual Result<> CreateProvider(const std::string& /*provider*/) {
    return Failure{kErrorNotSupported};
  }
};

DatabaseDriver& SystemDatabaseDriver();

}  // namespace qlx::platform
