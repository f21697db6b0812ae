#pragma once

// How an ODBC failure is told to the program: the HRESULT that an OLE DB
// provider gives for the same failure, and the driver's text as description.

#include <cstdint>
#include <string>
#include <vector>

namespace qlx::platform::odbc {

// OLE DB and ADO results the ODBC failures are reported as.
constexpr int32_t kErrorsInCommand = static_cast<int32_t>(0x80040E14);  // DB_E_ERRORSINCOMMAND
constexpr int32_t kIntegrityViolation =
    static_cast<int32_t>(0x80040E2F);  // DB_E_INTEGRITYVIOLATION
constexpr int32_t kPermissionDenied =
    static_cast<int32_t>(0x80040E09);  // DB_SEC_E_PERMISSIONDENIED
constexpr int32_t kAbortLimitReached = static_cast<int32_t>(0x80040E31);  // DB_E_ABORTLIMITREACHED
constexpr int32_t kDataOverflow = static_cast<int32_t>(0x80040E57);       // DB_E_DATAOVERFLOW
constexpr int32_t kCantConvertValue = static_cast<int32_t>(0x80040E07);   // DB_E_CANTCONVERTVALUE
constexpr int32_t kAuthenticationFailed = static_cast<int32_t>(0x80040E4D);  // DB_SEC_E_AUTH_FAILED
constexpr int32_t kObjectClosed = static_cast<int32_t>(0x800A0E78);          // adErrObjectClosed
constexpr int32_t kObjectOpen = static_cast<int32_t>(0x800A0E79);            // adErrObjectOpen
constexpr int32_t kInvalidArgument = static_cast<int32_t>(0x800A0BB9);       // adErrInvalidArgument

// One diagnostic record of a failed ODBC call.
struct Diagnostic {
  std::string sqlstate;  // five characters
  int32_t native_error = 0;
  std::string message;
};

// The drivers whose habits the mapping knows.
enum class DriverKind { kOther, kSQLite };

// What was going on when the call failed.
struct FailureContext {
  // Connecting and disconnecting fail with E_FAIL, as an OLE DB provider's
  // initialisation does, but for a refused login; statements are told apart.
  bool statement = false;
  DriverKind driver = DriverKind::kOther;
  // The statement ran under a query time-out, so a cancelled statement is
  // one that outran it.
  bool query_timeout_set = false;
};

// The driver kind for the name that SQLGetInfo(SQL_DRIVER_NAME) gives.
DriverKind DriverKindOf(const std::string& driver_name);

// The HRESULT for a failure whose first diagnostic record is the one given.
// Connecting: a refused login (class 28, or psqlODBC's 08001 that reports a
// failed password authentication) DB_SEC_E_AUTH_FAILED, as a provider's
// initialisation reports it; anything else E_FAIL.
// For statements:
//   23xxx                                   DB_E_INTEGRITYVIOLATION
//   42501, 28xxx                            DB_SEC_E_PERMISSIONDENIED
//   42xxx, 37xxx, S00xx (ODBC 2)            DB_E_ERRORSINCOMMAND
//   HYT00, S1T00, and 57014 (query_canceled)
//     after our time-out or PostgreSQL's statement_timeout
//                                           DB_E_ABORTLIMITREACHED
//   22001, 22003                            DB_E_DATAOVERFLOW
//   22005, 22018, 22P02                     DB_E_CANTCONVERTVALUE
//   SQLite's HY000 by its native result code: 19 (constraint)
//     DB_E_INTEGRITYVIOLATION, 1 (SQL error: no such table or column,
//     syntax) DB_E_ERRORSINCOMMAND, 23 (authorisation) permission denied
//   anything else                           E_FAIL
int32_t HresultFor(const Diagnostic& first, const FailureContext& context);

// The description for the records of one failure: the first record's message,
// then the message of each further record that is not a mere warning (class
// 01), each on a line of its own, as a provider's error collection would list
// them. Line breaks at the end of a message are dropped; a message repeated
// word for word is given once. Empty when there are no records.
std::string DescriptionFor(const std::vector<Diagnostic>& records);

}  // namespace qlx::platform::odbc
