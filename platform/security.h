#pragma once

#include <string>
#include <vector>

#include "platform/result.h"

namespace qlx::platform {

// What Windows tells of the account the program runs under and of the
// folders it runs from. Where the system has no such thing (the Linux
// stand-ins) each fails with ERROR_NOT_SUPPORTED.

// Whether the program runs elevated (its token is an administrator's full
// one), so that writes to HKEY_LOCAL_MACHINE and service requests are allowed.
Result<bool> IsElevated();

// The accounts, by name, other than the Administrators, SYSTEM and the
// account running the program, whose entries in the directory's access list
// let them create files in it: a program planted there would be started by
// an administrator who looks for it by name.
Result<std::vector<std::string>> OtherWritersOf(const std::string& directory);

// The folder the running program was loaded from, without a trailing
// backslash.
Result<std::string> ProgramDirectory();

}  // namespace qlx::platform
