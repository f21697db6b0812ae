// Files through the C library and the Windows file calls. Paths are used as
// the program formed them, backslashes and all.
#include "platform/files.h"

#include <cerrno>
#include <cstdio>

#include "platform/win32/handles.h"

namespace qlx::platform {
namespace {

// The Windows error code closest to a C library error, for the rare failure
// that happens before the library reaches the system (a bad mode, no memory).
uint32_t ErrorCodeFor(int c_error) {
  switch (c_error) {
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case EACCES:
      return ERROR_ACCESS_DENIED;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return ERROR_INVALID_PARAMETER;
  }
}

}  // namespace

std::string SystemPath(const std::string& path) { return path; }

Result<UniqueFile> OpenFile(const std::string& path, const char* mode) {
  SetLastError(ERROR_SUCCESS);
  errno = 0;
  UniqueFile file(std::fopen(path.c_str(), mode));
  // The C library's open leaves the system's own reason in the last error.
  const uint32_t system_error = GetLastError();
  if (!file) return Failure{system_error != 0 ? system_error : ErrorCodeFor(errno)};
  return file;
}

Result<> RemoveFile(const std::string& path) {
  if (DeleteFileA(path.c_str())) return {};
  return Failure{GetLastError()};
}

Result<> CopyFileReplacing(const std::string& from, const std::string& to) {
  if (CopyFileA(from.c_str(), to.c_str(), FALSE)) return {};
  return Failure{GetLastError()};
}

}  // namespace qlx::platform
