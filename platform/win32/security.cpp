#include "platform/security.h"

#include "platform/windows_codes.h"

namespace qlx::platform {

Result<bool> IsElevated() { return Failure{kErrorNotSupported}; }

Result<std::vector<std::string>> OtherWritersOf(const std::string& /*directory*/) {
  return Failure{kErrorNotSupported};
}

Result<std::string> ProgramDirectory() { return Failure{kErrorNotSupported}; }

}  // namespace qlx::platform
