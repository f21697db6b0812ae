#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

struct stat;

namespace qlx::platform::posix {

// An open file descriptor; closed when destroyed.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd();
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int Release();
  // Closes now; 0 or the errno of the failed close (a write may surface here).
  int Close();

 private:
  int fd_ = -1;
};

// The file's whole contents, or nothing with *error_number set to the errno
// of the failure (a directory gives EISDIR).
std::optional<std::string> ReadWholeFile(const std::string& path, int* error_number);

// Writes all bytes; 0 or the errno of the failed write.
int WriteAll(int fd, const char* data, std::size_t size);

// Receives the descriptor of the new file and writes its contents; returns 0
// or the errno of the failure.
using ContentsWriter = std::function<int(int fd)>;

struct ReplaceOptions {
  unsigned permissions = 0644;
  // Gives the new file the owner of the file it replaces (when it can).
  bool keep_owner = false;
};

// Writes a new file beside `path` and renames it over `path`, so the file
// holds either its old or its new contents, never a mix. When a step fails
// the old file is left as it was and the new one is removed. A symbolic link
// is followed: the file it points to is replaced. Returns 0 or the errno of
// the failed step.
int ReplaceFile(const std::string& path, const ReplaceOptions& options,
                const ContentsWriter& write_contents);

// ReplaceFile with the given bytes, keeping the permissions and owner of the
// file that is replaced.
int ReplaceFileContents(const std::string& path, const std::string& contents);

// The directory part of a slash-separated path: "." for a bare name, "/" for
// a name in the root.
std::string ParentDirectory(const std::string& path);

bool IsDirectory(const std::string& path);

// True when no one may write to the file by its permission bits: the
// counterpart of a read-only file or of a key or service manager that the
// account may only read. Root is held to it too, although the system is not.
bool IsWriteProtected(const struct stat& status);
bool IsWriteProtected(const std::string& path);
bool Exists(const std::string& path);

// The environment variable's value, or the fallback when it is unset or empty.
std::string EnvironmentOr(const char* name, const std::string& fallback);

}  // namespace qlx::platform::posix
