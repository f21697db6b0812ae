// Placeholder until the real facility lands.
#include "platform/files.h"

namespace qlx::platform {

UniqueFile OpenFile(const std::string& path, const char* mode, uint32_t* error) {
  UniqueFile f(std::fopen(path.c_str(), mode));
  if (!f && error) *error = 2;
  return f;
}
bool RemoveFile(const std::string& path) { return std::remove(path.c_str()) == 0; }
uint32_t CopyFileReplacing(const std::string&, const std::string&) { return 2; }
}  // namespace qlx::platform
