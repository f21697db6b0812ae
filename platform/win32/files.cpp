// Files through the C library and the Windows file calls. Paths are used as
// the program formed them, backslashes and all.
#include "platform/files.h"

#include <io.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/win32/handles.h"
#include "platform/win32/private_directory.h"

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

Result<> CreateNewFile(const std::string& path) {
  // CREATE_NEW fails on any name that exists, a link included. The file is
  // the user's, the Administrators' and SYSTEM's alone, whatever its
  // directory would hand down; what later writes into it keeps that list.
  uint32_t error = 0;
  const win32::UniqueLocalMemory descriptor = win32::PrivateSecurityDescriptor(false, &error);
  if (!descriptor) return Failure{error};
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  win32::UniqueKernelHandle created(CreateFileA(path.c_str(), GENERIC_WRITE, 0, &attributes,
                                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (created.get() == INVALID_HANDLE_VALUE) {
    created.release();
    return Failure{GetLastError()};
  }
  return {};
}

Result<> RemoveFileAtReboot(const std::string& path) {
  if (MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) return {};
  return Failure{GetLastError()};
}

Result<> EmptyFile(const std::string& path) {
  // The link itself is opened, never what it leads to, and then refused.
  win32::UniqueKernelHandle file(CreateFileA(
      path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) {
    file.release();
    return Failure{GetLastError()};
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file.get(), &info)) return Failure{GetLastError()};
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return Failure{ERROR_ACCESS_DENIED};
  if (!SetEndOfFile(file.get())) return Failure{GetLastError()};
  return {};
}

std::string CurrentDirectory() {
  char path[MAX_PATH] = {};
  const DWORD length = GetCurrentDirectoryA(MAX_PATH, path);
  return length == 0 || length >= MAX_PATH ? "." : std::string(path, length);
}

bool IsDirectoryPath(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

Result<> ProbeFileWrite(const std::string& path) {
  // An existing file opens for writing untouched; a missing one is made and
  // goes again when its handle closes.
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
    file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  }
  if (file == INVALID_HANDLE_VALUE) return Failure{GetLastError()};
  const win32::UniqueKernelHandle opened(file);
  return {};
}

namespace {

// Every writer of ours locks this byte, far past any end of file, across its
// entry: the size read then is where the entry goes, and a cut-back removes
// only its bytes.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

class AppendLock {
 public:
  explicit AppendLock(HANDLE file) : file_(file) {
    overlapped_.OffsetHigh = kLockOffsetHigh;
    held_ = LockFileEx(file_, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &overlapped_);
  }
  ~AppendLock() {
    if (held_) UnlockFileEx(file_, 0, 1, 0, &overlapped_);
  }
  AppendLock(const AppendLock&) = delete;
  AppendLock& operator=(const AppendLock&) = delete;

 private:
  HANDLE file_;
  OVERLAPPED overlapped_{};
  BOOL held_ = FALSE;
};

}  // namespace

bool AppendWhole(std::FILE* stream, const std::string& text) {
  if (std::fflush(stream) != 0) return false;
  // The stream is in text mode; the single write below goes past it.
  std::string bytes;
  for (const char c : text) {
    if (c == '\n') bytes += '\r';
    bytes += c;
  }
  const HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  if (file == INVALID_HANDLE_VALUE) return false;
  const AppendLock locked(file);
  // The size from the file itself: msvcrt reports 0 right after an append open.
  LARGE_INTEGER before{};
  if (!GetFileSizeEx(file, &before)) return false;
  LARGE_INTEGER end{};
  end.QuadPart = before.QuadPart;
  if (!SetFilePointerEx(file, end, nullptr, FILE_BEGIN)) return false;
  DWORD written = 0;
  const BOOL wrote =
      WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  if (wrote && written == bytes.size()) return true;
  if (written > 0 && SetFilePointerEx(file, before, nullptr, FILE_BEGIN)) SetEndOfFile(file);
  return false;
}

}  // namespace qlx::platform
