#include "platform/posix/posix_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

#include "platform/posix/windows_errors.h"

namespace qlx::platform::posix {

int CloseDescriptor(int fd) { return ::close(fd) == 0 ? 0 : errno; }

namespace {

constexpr std::size_t kReadChunk = 64 * 1024;

struct MallocFree {
  void operator()(char* text) const { std::free(text); }
};

// A temporary file that is removed again unless it has been kept.
class TemporaryFile {
 public:
  TemporaryFile() = default;
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    fd_.close();
    if (!path_.empty() && !kept_) ::unlink(path_.c_str());
  }

  // Creates a new file whose name is the template with its trailing
  // "XXXXXX" replaced; 0 or errno.
  int Create(std::string name_template) {
    const int fd = ::mkostemp(name_template.data(), O_CLOEXEC);
    if (fd < 0) return errno;
    fd_ = UniqueFd(fd);
    path_ = name_template;
    return 0;
  }
  int fd() const { return fd_.get(); }
  const std::string& path() const { return path_; }
  int CloseFd() { return fd_.close(); }
  void Keep() { kept_ = true; }

 private:
  UniqueFd fd_;
  std::string path_;
  bool kept_ = false;
};

// The file a write to `path` really lands in: symbolic links resolved when
// the file exists, the path itself when it does not.
std::string ResolvedTarget(const std::string& path) {
  std::unique_ptr<char, MallocFree> resolved(::realpath(path.c_str(), nullptr));
  return resolved ? std::string(resolved.get()) : path;
}

std::string BaseName(const std::string& path) {
  const std::string::size_type slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Keeps the temporary name within NAME_MAX however long the file's name is.
std::string TemporaryNameTemplate(const std::string& target) {
  constexpr std::size_t kKeptNameLength = 200;
  const std::string directory = ParentDirectory(target);
  const std::string prefix = directory == "/" ? "/." : directory + "/.";
  return prefix + BaseName(target).substr(0, kKeptNameLength) + ".XXXXXX";
}

void CopyOwner(int fd, const std::string& from_path) {
  struct stat status {};
  if (::stat(from_path.c_str(), &status) != 0) return;
  // Only possible with privileges; without them the new file stays ours.
  if (::fchown(fd, status.st_uid, status.st_gid) != 0) return;
}

}  // namespace

UniqueFd OpenRegularFile(const std::string& path, int flags, int* error, unsigned mode) {
  UniqueFd fd(::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, static_cast<mode_t>(mode)));
  // A FIFO or socket that no one reads refuses a write-only open with ENXIO.
  if (!fd && errno == ENXIO) {
    *error = EISDIR;
    return UniqueFd();
  }
  struct stat status {};
  if (!fd || ::fstat(fd.get(), &status) != 0) {
    *error = errno;
    return UniqueFd();
  }
  if (!S_ISREG(status.st_mode)) {
    *error = EISDIR;
    return UniqueFd();
  }
  return fd;
}

int ReadToEnd(int fd, const ChunkSink& take) {
  char buffer[kReadChunk];
  for (;;) {
    const ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count == 0) return 0;
    if (count < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (const int error = take(buffer, static_cast<std::size_t>(count))) return error;
  }
}

Result<std::string> ReadWholeFile(const std::string& path) {
  int open_error = 0;
  const UniqueFd fd = OpenRegularFile(path, O_RDONLY, &open_error);
  if (!fd) return Failure{WindowsErrorFromErrno(open_error)};
  std::string contents;
  const int error = ReadToEnd(fd.get(), [&contents](const char* data, std::size_t size) {
    contents.append(data, size);
    return 0;
  });
  if (error != 0) return Failure{WindowsErrorFromErrno(error)};
  return contents;
}

FileLock::FileLock(int fd) : fd_(fd) {
  while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
  }
}

FileLock::~FileLock() { ::flock(fd_, LOCK_UN); }

int WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return 0;
}

int ReplaceFile(const std::string& path, const ReplaceOptions& options,
                const ContentsWriter& write_contents) {
  const std::string target = ResolvedTarget(path);
  TemporaryFile temporary;
  if (const int error = temporary.Create(TemporaryNameTemplate(target))) return error;
  if (const int error = write_contents(temporary.fd())) return error;
  if (options.keep_owner) CopyOwner(temporary.fd(), target);
  if (::fchmod(temporary.fd(), static_cast<mode_t>(options.permissions)) != 0) return errno;
  if (::fsync(temporary.fd()) != 0) return errno;
  if (const int error = temporary.CloseFd()) return error;
  if (options.before_rename) {
    if (const int error = options.before_rename()) return error;
  }
  if (::rename(temporary.path().c_str(), target.c_str()) != 0) return errno;
  temporary.Keep();
  // The rename itself is on disk only once its directory is. The new file is
  // in place by now, so a directory that cannot be synced fails nothing.
  const UniqueFd directory(
      ::open(ParentDirectory(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory) ::fsync(directory.get());
  return 0;
}

int ReplaceFileContents(const std::string& path, const std::string& contents) {
  ReplaceOptions options;
  options.keep_owner = true;
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0) options.permissions = status.st_mode & 07777;
  return ReplaceFile(path, options, [&contents](int fd) {
    return WriteAll(fd, contents.data(), contents.size());
  });
}

std::string ParentDirectory(const std::string& path) {
  const std::string::size_type slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool IsDirectory(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool IsWriteProtected(const struct stat& status) { return (status.st_mode & 0222) == 0; }

bool IsWriteProtected(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && IsWriteProtected(status);
}

bool Exists(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0;
}

std::string EnvironmentOr(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value && *value ? std::string(value) : fallback;
}

}  // namespace qlx::platform::posix
