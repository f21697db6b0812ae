#pragma once

#include <cstdint>

namespace qlx::platform::posix {

// The Windows error codes the stand-ins report.
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorPathNotFound = 3;
constexpr uint32_t kErrorTooManyOpenFiles = 4;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorGenFailure = 31;
constexpr uint32_t kErrorSharingViolation = 32;
constexpr uint32_t kErrorFileExists = 80;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorDiskFull = 112;
constexpr uint32_t kErrorBadExeFormat = 193;
constexpr uint32_t kErrorFilenameExcedRange = 206;
constexpr uint32_t kErrorDirectory = 267;
constexpr uint32_t kErrorServiceAlreadyRunning = 1056;
constexpr uint32_t kErrorServiceDoesNotExist = 1060;
constexpr uint32_t kErrorServiceNotActive = 1062;
constexpr uint32_t kErrorIoDevice = 1117;
constexpr uint32_t kErrorCantResolveFilename = 1921;

// The Windows error code closest to an errno value; ERROR_GEN_FAILURE for the
// ones Windows has no counterpart of.
uint32_t WindowsErrorFromErrno(int error_number);

}  // namespace qlx::platform::posix
