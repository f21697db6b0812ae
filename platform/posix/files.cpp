// Files on the program's Windows-style paths: every backslash becomes a slash
// here, and nowhere else, and the ANSI (Windows-1252) path the program formed
// becomes the UTF-8 name Linux knows the file by. Failures are reported with
// the Windows codes the same calls give on Windows: 2 for a missing file in an
// existing directory, 3 when the directory is missing, 5 for no access (a
// directory included).
//
// A file opened for reading in text mode reads as on Windows: CR LF arrives
// as LF and a Ctrl-Z byte ends it. Writes are not translated: on Linux a line
// still ends in one byte.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>

#include "platform/files.h"
#include "platform/posix/posix_io.h"
#include "platform/posix/text_encoding.h"
#include "platform/posix/text_mode_stream.h"
#include "platform/posix/windows_errors.h"

namespace qlx::platform {
namespace {

std::string NativePath(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return posix::Utf8FromAnsi(path);
}

// Windows tells a missing file (2) from a missing directory (3).
uint32_t WindowsErrorForPath(int error_number, const std::string& native_path) {
  if (error_number == ENOENT && !posix::IsDirectory(posix::ParentDirectory(native_path))) {
    return kErrorPathNotFound;
  }
  return posix::WindowsErrorFromErrno(error_number);
}

// "r" without "b": the only mode in which the program reads.
bool IsTextModeRead(const std::string& mode) { return mode == "r" || mode == "rt"; }

// The open flags of a C stdio mode ("b" and "t" change nothing here), and
// whether the file is emptied.
struct ModeFlags {
  int flags = 0;
  bool truncate = false;
};

std::optional<ModeFlags> FlagsOfMode(std::string mode) {
  mode.erase(std::remove_if(mode.begin(), mode.end(), [](char c) { return c == 'b' || c == 't'; }),
             mode.end());
  if (mode == "r") return ModeFlags{O_RDONLY, false};
  if (mode == "r+") return ModeFlags{O_RDWR, false};
  if (mode == "w") return ModeFlags{O_WRONLY | O_CREAT, true};
  if (mode == "w+") return ModeFlags{O_RDWR | O_CREAT, true};
  if (mode == "a") return ModeFlags{O_WRONLY | O_CREAT | O_APPEND, false};
  if (mode == "a+") return ModeFlags{O_RDWR | O_CREAT | O_APPEND, false};
  return std::nullopt;
}

// The stream for the mode, or null with errno set. Only a regular file opens
// (posix_io.h), and it is emptied only once it is known to be one.
std::FILE* OpenStream(const std::string& native_path, const char* mode) {
  const std::optional<ModeFlags> flags = FlagsOfMode(mode);
  if (!flags) {
    errno = EINVAL;
    return nullptr;
  }
  int error = 0;
  posix::UniqueFd fd = posix::OpenRegularFile(native_path, flags->flags, &error);
  if (fd && flags->truncate && ::ftruncate(fd.get(), 0) != 0) error = errno;
  if (!fd || error != 0) {
    errno = error;
    return nullptr;
  }
  if (IsTextModeRead(mode)) return posix::OpenTextModeReader(std::move(fd));
  std::FILE* file = ::fdopen(fd.get(), mode);
  if (!file) return nullptr;
  fd.release();
  return file;
}

// Windows refuses to overwrite what is no file (a directory; here also a FIFO
// or a device) or a read-only file, whoever asks: a file without any write
// bit is read-only even to root.
Result<> CheckReplaceableTarget(const std::string& target) {
  struct stat status {};
  if (::stat(target.c_str(), &status) != 0) {
    if (errno == ENOENT) return {};
    return Failure{WindowsErrorForPath(errno, target)};
  }
  if (!S_ISREG(status.st_mode) || posix::IsWriteProtected(status)) {
    return Failure{kErrorAccessDenied};
  }
  if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
    return Failure{kErrorAccessDenied};
  }
  return {};
}

}  // namespace

Result<UniqueFile> OpenFile(const std::string& path, const char* mode) {
  const std::string native_path = NativePath(path);
  UniqueFile file(OpenStream(native_path, mode));
  if (!file) return Failure{WindowsErrorForPath(errno, native_path)};
  return file;
}

Result<> RemoveFile(const std::string& path) {
  const std::string native_path = NativePath(path);
  // unlink, not remove: a directory is no file to delete.
  if (::unlink(native_path.c_str()) == 0) return {};
  return Failure{WindowsErrorForPath(errno, native_path)};
}

Result<> CopyFileReplacing(const std::string& from, const std::string& to) {
  const std::string source_path = NativePath(from);
  const std::string target_path = NativePath(to);
  int open_error = 0;
  posix::UniqueFd source = posix::OpenRegularFile(source_path, O_RDONLY, &open_error);
  if (!source) return Failure{WindowsErrorForPath(open_error, source_path)};
  struct stat source_status {};
  if (::fstat(source.get(), &source_status) != 0) {
    return Failure{posix::WindowsErrorFromErrno(errno)};
  }
  if (const Result<> replaceable = CheckReplaceableTarget(target_path); !replaceable) {
    return replaceable;
  }

  posix::ReplaceOptions options;
  options.permissions = source_status.st_mode & 0777;
  const int error = posix::ReplaceFile(target_path, options, [&source](int target_fd) {
    return posix::ReadToEnd(source.get(), [target_fd](const char* data, std::size_t size) {
      return posix::WriteAll(target_fd, data, size);
    });
  });
  if (error != 0) return Failure{WindowsErrorForPath(error, target_path)};
  return {};
}

}  // namespace qlx::platform
