#include "platform/posix/private_directory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/windows_codes.h"

namespace qlx::platform::posix {
namespace {

constexpr mode_t kOwnerOnly = S_IRWXU;
constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool IsPrivate(const struct stat& info) {
  return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
         (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// A directory in which only its owner (root or the user) may remove or
// rename what the user makes.
bool IsSafeParent(const struct stat& info) {
  const bool trusted_owner = info.st_uid == 0 || info.st_uid == ::geteuid();
  const bool others_may_write = (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
  return S_ISDIR(info.st_mode) && trusted_owner &&
         (!others_may_write || (info.st_mode & S_ISVTX) != 0);
}

std::string OwnName() { return "qlxpatch-" + std::to_string(::geteuid()); }

// The directory opened at `fd`, when it is private.
Result<PrivateDirectory> Checked(std::string path, UniqueFd fd) {
  struct stat info = {};
  if (!fd || ::fstat(fd.get(), &info) != 0 || !IsPrivate(info)) return Failure{kErrorDirectory};
  return PrivateDirectory{std::move(path), std::move(fd)};
}

}  // namespace

Result<PrivateDirectory> OpenPrivateDirectory(const std::string& path) {
  return Checked(path, UniqueFd(::open(path.c_str(), kDirectoryFlags)));
}

Result<PrivateDirectory> PreparePrivateDirectory(const std::string& parent) {
  const Failure unusable{kErrorDirectory};
  // The parent is checked once and then used by its descriptor alone.
  const UniqueFd parent_fd(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  struct stat parent_info = {};
  if (!parent_fd || ::fstat(parent_fd.get(), &parent_info) != 0 || !IsSafeParent(parent_info)) {
    return unusable;
  }
  const std::string name = OwnName();
  const bool created = ::mkdirat(parent_fd.get(), name.c_str(), kOwnerOnly) == 0;
  if (!created && errno != EEXIST) return unusable;
  UniqueFd fd(::openat(parent_fd.get(), name.c_str(), kDirectoryFlags));
  // The umask may have taken the owner's own bits away.
  if (created && fd && ::fchmod(fd.get(), kOwnerOnly) != 0) return unusable;
  const std::string path = parent.back() == '/' ? parent + name : parent + "/" + name;
  return Checked(path, std::move(fd));
}

Result<PrivateDirectory> ChildrenDirectory(const std::string& tmpdir,
                                           const std::string& system_temporary) {
  if (!tmpdir.empty()) {
    if (Result<PrivateDirectory> own = OpenPrivateDirectory(tmpdir)) return own;
    if (Result<PrivateDirectory> inside = PreparePrivateDirectory(tmpdir)) return inside;
  }
  return PreparePrivateDirectory(system_temporary);
}

}  // namespace qlx::platform::posix
