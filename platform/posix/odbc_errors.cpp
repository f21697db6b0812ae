#include "platform/posix/odbc_errors.h"

#include <algorithm>
#include <cctype>

#include "platform/database.h"

namespace qlx::platform::odbc {
namespace {

bool HasClass(const std::string& sqlstate, const char* class_code) {
  return sqlstate.compare(0, 2, class_code) == 0;
}

bool IsOneOf(const std::string& sqlstate, std::initializer_list<const char*> states) {
  return std::any_of(states.begin(), states.end(),
                     [&](const char* state) { return sqlstate == state; });
}

bool Contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

// PostgreSQL's query_canceled comes from its statement_timeout (psqlODBC's
// way of keeping the query time-out) or from a cancel request; either counts
// as the time-out when the statement had one.
bool IsTimeOut(const Diagnostic& first, const FailureContext& context) {
  if (IsOneOf(first.sqlstate, {"HYT00", "S1T00"})) return true;
  return first.sqlstate == "57014" &&
         (context.query_timeout_set || Contains(first.message, "statement timeout"));
}

// SQLite's driver reports every engine error as HY000 with the engine's
// result code (or extended result code) as native error.
int32_t SQLiteHresult(int32_t native_error) {
  switch (native_error & 0xFF) {
    case 1:  // SQLITE_ERROR: no such table or column, syntax error
      return kErrorsInCommand;
    case 19:  // SQLITE_CONSTRAINT
      return kIntegrityViolation;
    case 23:  // SQLITE_AUTH
      return kPermissionDenied;
    default:
      return kEFail;
  }
}

int32_t DataExceptionHresult(const std::string& sqlstate) {
  if (IsOneOf(sqlstate, {"22001", "22003"})) return kDataOverflow;
  if (IsOneOf(sqlstate, {"22005", "22018", "22P02"})) return kCantConvertValue;
  return kEFail;
}

int32_t StatementHresult(const Diagnostic& first, const FailureContext& context) {
  const std::string& state = first.sqlstate;
  if (IsTimeOut(first, context)) return kAbortLimitReached;
  if (HasClass(state, "23")) return kIntegrityViolation;
  if (state == "42501" || HasClass(state, "28")) return kPermissionDenied;
  if (HasClass(state, "42") || HasClass(state, "37") || HasClass(state, "S0")) {
    return kErrorsInCommand;
  }
  if (HasClass(state, "22")) return DataExceptionHresult(state);
  if (state == "HY000" && context.driver == DriverKind::kSQLite) {
    return SQLiteHresult(first.native_error);
  }
  return kEFail;
}

std::string WithoutTrailingBreaks(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// psqlODBC reports every failed connection as 08001, with the server's
// message; PostgreSQL itself says 28P01 for a wrong password.
bool IsRefusedLogin(const Diagnostic& first) {
  if (HasClass(first.sqlstate, "28")) return true;
  return first.sqlstate == "08001" && Contains(first.message, "password authentication failed");
}

int32_t ConnectionHresult(const Diagnostic& first) {
  return IsRefusedLogin(first) ? kAuthenticationFailed : kEFail;
}

}  // namespace

DriverKind DriverKindOf(const std::string& driver_name) {
  std::string lower = driver_name;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return Contains(lower, "sqlite") ? DriverKind::kSQLite : DriverKind::kOther;
}

int32_t HresultFor(const Diagnostic& first, const FailureContext& context) {
  return context.statement ? StatementHresult(first, context) : ConnectionHresult(first);
}

std::string DescriptionFor(const std::vector<Diagnostic>& records) {
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (i > 0 && HasClass(records[i].sqlstate, "01")) continue;
    std::string line = WithoutTrailingBreaks(records[i].message);
    if (std::find(lines.begin(), lines.end(), line) == lines.end()) lines.push_back(line);
  }
  std::string description;
  for (const std::string& line : lines) {
    if (!description.empty()) description += '\n';
    description += line;
  }
  return description;
}

}  // namespace qlx::platform::odbc
