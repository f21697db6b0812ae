// Files on the program's Windows-style paths: every backslash becomes a slash
// here, and the ANSI (Windows-1252) path the program formed becomes the UTF-8
// name Linux knows the file by; a path on a drive letter is resolved in the
// directory the letter maps to (drives.h). A write, copy or delete is traced
// for a rehearsal (trace.h). Failures are reported with
// the Windows codes the same calls give on Windows: 2 for a missing file in an
// existing directory, 3 when the directory is missing, 5 for no access (a
// directory included).
//
// A file opened for reading in text mode reads as on Windows: CR LF arrives
// as LF and a Ctrl-Z byte ends it. Writes are not translated: on Linux a line
// still ends in one byte.
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/posix/drives.h"
#include "platform/posix/posix_io.h"
#include "platform/posix/text_encoding.h"
#include "platform/posix/text_mode_stream.h"
#include "platform/posix/trace.h"
#include "platform/posix/windows_errors.h"

namespace qlx::platform {
namespace {

// A path on a drive letter is resolved in the directory the letter maps to
// (drives.h); any other path only has its backslashes turned.
Result<std::string> NativePath(std::string path) {
  if (posix::HasDriveLetter(path)) return posix::ResolveDrivePath(posix::Utf8FromAnsi(path));
  std::replace(path.begin(), path.end(), '\\', '/');
  return posix::Utf8FromAnsi(path);
}

// A path as the trace gives it: absolute, so a report needs no current
// directory to find the file.
std::string AbsolutePath(const std::string& native_path) {
  if (!native_path.empty() && native_path.front() == '/') return native_path;
  std::string directory(PATH_MAX, '\0');
  if (!::getcwd(directory.data(), directory.size())) return native_path;
  directory.resize(directory.find('\0'));
  return directory == "/" ? "/" + native_path : directory + "/" + native_path;
}

// The rehearsal trace of a change to a file; `path` as the program formed it.
void TraceFileEvent(const char* event, const std::string& path, const Result<std::string>& native,
                    const char* what, uint32_t code) {
  std::vector<std::string> fields = {event, posix::Utf8FromAnsi(path),
                                     native ? AbsolutePath(*native) : "-"};
  if (what) fields.push_back(what);
  fields.push_back(std::to_string(code));
  posix::Trace(fields);
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

// A path that cannot be resolved (a drive nothing maps) is named as formed.
std::string SystemPath(const std::string& path) {
  const Result<std::string> native_path = NativePath(path);
  return native_path ? *native_path : path;
}

Result<UniqueFile> OpenFile(const std::string& path, const char* mode) {
  const Result<std::string> native_path = NativePath(path);
  if (!native_path) return Failure{native_path.error()};
  const bool writes = !IsTextModeRead(mode);
  const bool existed = writes && posix::Exists(*native_path);
  UniqueFile file(OpenStream(*native_path, mode));
  const uint32_t error = file ? 0 : WindowsErrorForPath(errno, *native_path);
  if (writes) {
    TraceFileEvent("file.write", path, native_path, existed ? "changed" : "created", error);
  }
  if (!file) return Failure{error};
  return file;
}

Result<> RemoveFile(const std::string& path) {
  const Result<std::string> native_path = NativePath(path);
  uint32_t error = native_path.error();
  // unlink, not remove: a directory is no file to delete.
  if (native_path && ::unlink(native_path->c_str()) != 0) {
    error = WindowsErrorForPath(errno, *native_path);
  }
  TraceFileEvent("file.delete", path, native_path, nullptr, error);
  if (error != 0) return Failure{error};
  return {};
}

namespace {

Result<> CopyNative(const std::string& source_path, const std::string& target_path) {
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

}  // namespace

Result<> CopyFileReplacing(const std::string& from, const std::string& to) {
  const Result<std::string> source_path = NativePath(from);
  const Result<std::string> target_path = NativePath(to);
  Result<> result = Failure{source_path ? target_path.error() : source_path.error()};
  if (source_path && target_path) result = CopyNative(*source_path, *target_path);
  TraceFileEvent("file.write", to, target_path, "copied", result.error());
  return result;
}

Result<> CreateNewFile(const std::string& path) {
  const Result<std::string> native_path = NativePath(path);
  if (!native_path) return Failure{native_path.error()};
  constexpr mode_t kOwnerOnly = S_IRUSR | S_IWUSR;
  posix::UniqueFd created(::open(native_path->c_str(),
                                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kOwnerOnly));
  if (!created) return Failure{WindowsErrorForPath(errno, *native_path)};
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

Result<> EmptyFile(const std::string& path) {
  const Result<std::string> native_path = NativePath(path);
  if (!native_path) return Failure{native_path.error()};
  int error = 0;
  const posix::UniqueFd file = posix::OpenRegularFile(*native_path, O_WRONLY | O_NOFOLLOW, &error);
  if (!file)
    return Failure{error == ELOOP ? kErrorAccessDenied : WindowsErrorForPath(error, *native_path)};
  if (::ftruncate(file.get(), 0) != 0) return Failure{posix::WindowsErrorFromErrno(errno)};
  return {};
}

std::string CurrentDirectory() {
  const std::string absolute = AbsolutePath(".");
  return absolute.size() > 2 ? absolute.substr(0, absolute.size() - 2) : ".";
}

bool IsDirectoryPath(const std::string& path) {
  const Result<std::string> native_path = NativePath(path);
  return native_path && posix::IsDirectory(*native_path);
}

Result<> ProbeFileWrite(const std::string& path) {
  const Result<std::string> native_path = NativePath(path);
  if (!native_path) return Failure{native_path.error()};
  if (posix::Exists(*native_path)) return CheckReplaceableTarget(*native_path);
  const posix::UniqueFd created(
      ::open(native_path->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!created) return Failure{WindowsErrorForPath(errno, *native_path)};
  ::unlink(native_path->c_str());
  return {};
}

bool AppendWhole(std::FILE* stream, const std::string& text) {
  if (std::fflush(stream) != 0) return false;
  const int fd = ::fileno(stream);
  // Every writer of ours holds the lock across its entry, so the size read
  // here is where this entry goes, and a cut-back removes only its bytes.
  const posix::FileLock locked(fd);
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
