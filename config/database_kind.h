#pragma once

#include <string>

namespace qlx {

// The host's "dbType" setting (first occurrence), or the empty text when the
// host's global settings file cannot be opened or has no such key. Only
// "Oracle", exactly, means Oracle; anything else means SQL Server.
std::string GetDatabaseType();

}  // namespace qlx
