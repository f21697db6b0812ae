#pragma once

// What the ODBC configuration says about a data source before the program
// connects to it: whether odbc.ini defines it, whether it names its own
// database, and which driver serves it.

#include <string>

#include "platform/posix/odbc_errors.h"

namespace qlx::platform::odbc {

struct DataSource {
  // odbc.ini (the user's, then the system's) names a driver for it.
  bool defined = false;
  // It has a Database of its own, which the program then leaves in force.
  bool names_database = false;
  DriverKind driver = DriverKind::kOther;
};

// The data source of that name as the driver manager will find it: in the
// files that ODBCINI and ODBCSYSINI select, the driver by its name in
// odbcinst.ini or by its library's path.
DataSource LookUpDataSource(const std::string& name);

// Writes one line to standard error that names the missing data source and
// the variables that say where odbc.ini is, once per name and process.
void ReportMissingDataSource(const std::string& name);

}  // namespace qlx::platform::odbc
