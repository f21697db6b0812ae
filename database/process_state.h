#pragma once

#include <string>

namespace qlx {

// The run's process-wide texts, empty when the program starts.
std::string& MutableConnectionString();
std::string& MutableOracleUserName();

}  // namespace qlx
