#include "platform/posix/private_directory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/posix_io.h"
#include "platform/posix/windows_errors.h"

namespace qlx::platform::posix {
namespace {

constexpr mode_t kOwnerOnly = S_IRWXU;

bool IsPrivate(const struct stat& info) {
  return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
         (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace

uint32_t PreparePrivateDirectory(const std::string& path) {
  const bool created = ::mkdir(path.c_str(), kOwnerOnly) == 0;
  if (!created && errno != EEXIST) return kErrorDirectory;
  // Opened without following a link, so what is checked is what is used.
  const UniqueFd directory(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!directory.valid()) return kErrorDirectory;
  // The umask may have taken the owner's own bits away.
  if (created && ::fchmod(directory.get(), kOwnerOnly) != 0) return kErrorDirectory;
  struct stat info = {};
  if (::fstat(directory.get(), &info) != 0 || !IsPrivate(info)) return kErrorDirectory;
  return 0;
}

}  // namespace qlx::platform::posix
