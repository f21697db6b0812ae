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

// Our descriptors stay ours: a child started later does not inherit them.
std::string WithCloseOnExec(const char* mode) { return std::string(mode) + "e"; }

// A directory opens for reading here, but is no file to read on Windows.
bool IsDirectoryFd(int fd) {
  struct stat status {};
  return ::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode);
}

// "r" without "b": the only mode in which the program reads.
bool IsTextModeRead(const std::string& mode) { return mode == "r" || mode == "rt"; }

// The stream for the mode, or null with errno set.
std::FILE* OpenStream(const std::string& native_path, const char* mode) {
  if (IsTextModeRead(mode)) {
    posix::UniqueFd fd(::open(native_path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return nullptr;
    if (IsDirectoryFd(fd.get())) {
      errno = EISDIR;
      return nullptr;
    }
    return posix::OpenTextModeReader(std::move(fd));
  }
  std::FILE* file = std::fopen(native_path.c_str(), WithCloseOnExec(mode).c_str());
  if (file && IsDirectoryFd(::fileno(file))) {
    std::fclose(file);
    errno = EISDIR;
    return nullptr;
  }
  return file;
}

// Windows refuses to overwrite a directory or a read-only file, whoever asks:
// a file without any write bit is read-only even to root.
Result<> CheckReplaceableTarget(const std::string& target) {
  struct stat status {};
  if (::stat(target.c_str(), &status) != 0) {
    if (errno == ENOENT) return {};
    return Failure{WindowsErrorForPath(errno, target)};
  }
  if (S_ISDIR(status.st_mode) || posix::IsWriteProtected(status)) {
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
  posix::UniqueFd source(::open(source_path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!source) return Failure{WindowsErrorForPath(errno, source_path)};
  struct stat source_status {};
  if (::fstat(source.get(), &source_status) != 0) {
    return Failure{posix::WindowsErrorFromErrno(errno)};
  }
  if (S_ISDIR(source_status.st_mode)) return Failure{kErrorAccessDenied};
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

Result<> CreateNewFile(const std::string& path) {
  const std::string native_path = NativePath(path);
  constexpr mode_t kOwnerOnly = S_IRUSR | S_IWUSR;
  posix::UniqueFd created(::open(native_path.c_str(),
                                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kOwnerOnly));
  if (!created) return Failure{WindowsErrorForPath(errno, native_path)};
  // The umask may have taken bits away, never added any; this makes it exact.
  if (::fchmod(created.get(), kOwnerOnly) != 0) return Failure{posix::WindowsErrorFromErrno(errno)};
  if (const int error = created.close(); error != 0) {
    return Failure{posix::WindowsErrorFromErrno(error)};
  }
  return {};
}

// Linux has no deletion at the next start; a file that could not be deleted
// has already been cut to nothing.
Result<> RemoveFileAtReboot(const std::string&) { return Failure{kErrorNotSupported}; }

bool AppendWhole(std::FILE* stream, const std::string& text) {
  if (std::fflush(stream) != 0) return false;
  const int fd = ::fileno(stream);
  // The size from the file itself, not the stream's position.
  struct stat before {};
  if (::fstat(fd, &before) != 0) return false;
  ssize_t written = -1;
  do {
    written = ::write(fd, text.data(), text.size());
  } while (written < 0 && errno == EINTR);
  if (written == static_cast<ssize_t>(text.size())) return true;
  if (written > 0) {
    while (::ftruncate(fd, before.st_size) != 0 && errno == EINTR) {
    }
  }
  return false;
}

}  // namespace qlx::platform
