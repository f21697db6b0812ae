#pragma once

// The Windows error codes and HRESULTs the program reports or looks for, by
// their Windows names, for the code that has no <windows.h>: the core, the
// Linux stand-ins, the fakes and the tests.

#include <cstdint>

namespace qlx::platform {

// Windows error codes (GetLastError, and the registry's LSTATUS).
constexpr uint32_t kErrorFileNotFound = 2;              // ERROR_FILE_NOT_FOUND
constexpr uint32_t kErrorPathNotFound = 3;              // ERROR_PATH_NOT_FOUND
constexpr uint32_t kErrorTooManyOpenFiles = 4;          // ERROR_TOO_MANY_OPEN_FILES
constexpr uint32_t kErrorAccessDenied = 5;              // ERROR_ACCESS_DENIED
constexpr uint32_t kErrorNotEnoughMemory = 8;           // ERROR_NOT_ENOUGH_MEMORY
constexpr uint32_t kErrorGenFailure = 31;               // ERROR_GEN_FAILURE
constexpr uint32_t kErrorSharingViolation = 32;         // ERROR_SHARING_VIOLATION
constexpr uint32_t kErrorNotSupported = 50;             // ERROR_NOT_SUPPORTED
constexpr uint32_t kErrorFileExists = 80;               // ERROR_FILE_EXISTS
constexpr uint32_t kErrorInvalidParameter = 87;         // ERROR_INVALID_PARAMETER
constexpr uint32_t kErrorDiskFull = 112;                // ERROR_DISK_FULL
constexpr uint32_t kErrorBadExeFormat = 193;            // ERROR_BAD_EXE_FORMAT
constexpr uint32_t kErrorFilenameExcedRange = 206;      // ERROR_FILENAME_EXCED_RANGE
constexpr uint32_t kErrorDirectory = 267;               // ERROR_DIRECTORY
constexpr uint32_t kErrorServiceAlreadyRunning = 1056;  // ERROR_SERVICE_ALREADY_RUNNING
constexpr uint32_t kErrorServiceDoesNotExist = 1060;    // ERROR_SERVICE_DOES_NOT_EXIST
constexpr uint32_t kErrorServiceNotActive = 1062;       // ERROR_SERVICE_NOT_ACTIVE
constexpr uint32_t kErrorIoDevice = 1117;               // ERROR_IO_DEVICE
constexpr uint32_t kErrorCantResolveFilename = 1921;    // ERROR_CANT_RESOLVE_FILENAME

// HRESULTs, signed as COM holds them. COM's own:
constexpr int32_t kENotImpl = static_cast<int32_t>(0x80004001);      // E_NOTIMPL
constexpr int32_t kEPointer = static_cast<int32_t>(0x80004003);      // E_POINTER
constexpr int32_t kEFail = static_cast<int32_t>(0x80004005);         // E_FAIL
constexpr int32_t kEOutOfMemory = static_cast<int32_t>(0x8007000E);  // E_OUTOFMEMORY

// OLE DB's, as its providers report failed commands and logins:
constexpr int32_t kDbErrorsInCommand = static_cast<int32_t>(0x80040E14);   // DB_E_ERRORSINCOMMAND
constexpr int32_t kDbCantConvertValue = static_cast<int32_t>(0x80040E07);  // DB_E_CANTCONVERTVALUE
constexpr int32_t kDbPermissionDenied =
    static_cast<int32_t>(0x80040E09);  // DB_SEC_E_PERMISSIONDENIED
constexpr int32_t kDbIntegrityViolation =
    static_cast<int32_t>(0x80040E2F);  // DB_E_INTEGRITYVIOLATION
constexpr int32_t kDbAbortLimitReached =
    static_cast<int32_t>(0x80040E31);  // DB_E_ABORTLIMITREACHED
constexpr int32_t kDbAuthenticationFailed =
    static_cast<int32_t>(0x80040E4D);                                  // DB_SEC_E_AUTH_FAILED
constexpr int32_t kDbDataOverflow = static_cast<int32_t>(0x80040E57);  // DB_E_DATAOVERFLOW

// ADO's, for calls its objects refuse:
constexpr int32_t kAdInvalidArgument = static_cast<int32_t>(0x800A0BB9);  // adErrInvalidArgument
constexpr int32_t kAdObjectClosed = static_cast<int32_t>(0x800A0E78);     // adErrObjectClosed
constexpr int32_t kAdObjectOpen = static_cast<int32_t>(0x800A0E79);       // adErrObjectOpen

}  // namespace qlx::platform
